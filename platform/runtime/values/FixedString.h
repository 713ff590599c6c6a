// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Fixed-size text variables. FixedString<N> holds exactly N bytes, padded with blanks;
// CString<N> holds at most N-1 bytes followed by a NUL. Both cut text that is too long,
// never inside a UTF-8 character. They compare case-sensitively with trailing blanks
// ignored, so "abc" equals "abc  ".

#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/runtime/values/AnyRef.h"
#include "platform/runtime/values/Text.h"

namespace rt {

// The text without its trailing blanks.
inline std::string_view ClipText(std::string_view text) {
  return TrimRight(text);
}

// Byte-wise comparison of two texts with trailing blanks ignored: <0, 0 or >0.
inline int CompareText(std::string_view a, std::string_view b) {
  a = ClipText(a);
  b = ClipText(b);
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

template <std::size_t N>
class FixedString {
  static_assert(N > 0, "a fixed string holds at least one character");

 public:
  FixedString() { Clear(); }
  FixedString(std::string_view text) { Assign(text); }  // NOLINT: implicit like a literal
  FixedString& operator=(std::string_view text) {
    Assign(text);
    return *this;
  }

  static constexpr std::size_t Size() { return N; }
  char* Data() { return data_; }
  const char* Data() const { return data_; }
  // All N characters, blanks included.
  std::string_view View() const { return std::string_view(data_, N); }
  std::string Clip() const { return std::string(ClipText(View())); }
  void Clear() { std::memset(data_, ' ', N); }
  AnyRef Ref() { return AnyRef(data_, FieldType::String, N); }

  friend bool operator==(const FixedString& a, std::string_view b) {
    return CompareText(a.View(), b) == 0;
  }
  friend std::strong_ordering operator<=>(const FixedString& a, std::string_view b) {
    return CompareText(a.View(), b) <=> 0;
  }
  template <std::size_t M>
  friend bool operator==(const FixedString& a, const FixedString<M>& b) {
    return CompareText(a.View(), b.View()) == 0;
  }
  template <std::size_t M>
  friend std::strong_ordering operator<=>(const FixedString& a, const FixedString<M>& b) {
    return CompareText(a.View(), b.View()) <=> 0;
  }

 private:
  void Assign(std::string_view text) {
    const std::size_t n = Utf8CutLength(text, N);
    // memmove: the text may be a view of this very buffer. An empty view may have no buffer.
    if (n > 0) std::memmove(data_, text.data(), n);
    std::memset(data_ + n, ' ', N - n);
  }

  char data_[N];
};

template <std::size_t N>
class CString {
  static_assert(N > 0, "a C string needs room for its terminator");

 public:
  CString() { Clear(); }
  CString(std::string_view text) { Assign(text); }  // NOLINT: implicit like a literal
  CString& operator=(std::string_view text) {
    Assign(text);
    return *this;
  }

  // Capacity including the terminator; the text holds at most N-1 characters.
  static constexpr std::size_t Size() { return N; }
  char* Data() { return data_; }
  const char* Data() const { return data_; }
  const char* CStr() const { return data_; }
  std::size_t Length() const { return std::strlen(data_); }
  std::string_view View() const { return std::string_view(data_, Length()); }
  std::string Clip() const { return std::string(ClipText(View())); }
  void Clear() { std::memset(data_, 0, N); }
  AnyRef Ref() { return AnyRef(data_, FieldType::CString, N); }

  friend bool operator==(const CString& a, std::string_view b) {
    return CompareText(a.View(), b) == 0;
  }
  friend std::strong_ordering operator<=>(const CString& a, std::string_view b) {
    return CompareText(a.View(), b) <=> 0;
  }
  template <std::size_t M>
  friend bool operator==(const CString& a, const CString<M>& b) {
    return CompareText(a.View(), b.View()) == 0;
  }
  template <std::size_t M>
  friend std::strong_ordering operator<=>(const CString& a, const CString<M>& b) {
    return CompareText(a.View(), b.View()) <=> 0;
  }

 private:
  void Assign(std::string_view text) {
    const std::size_t n = Utf8CutLength(text, N - 1);
    std::memmove(data_, text.data(), n);
    std::memset(data_ + n, 0, N - n);
  }

  char data_[N];
};

}  // namespace rt
