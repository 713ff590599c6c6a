#pragma once
// Small text helpers shared by the runtime and the drivers: trimming and ASCII case. Case
// changes touch only A-Z and a-z, so texts of any encoding keep their other bytes.

#include <string>
#include <string_view>

namespace rt {

inline constexpr std::string_view kBlanks = " \t";
inline constexpr std::string_view kWhitespace = " \t\n\v\f\r";

// The text without the given characters at its end (by default, trailing spaces).
inline std::string_view TrimRight(std::string_view text, std::string_view chars = " ") {
  const std::size_t end = text.find_last_not_of(chars);
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

// The text without the given characters at either end.
inline std::string_view Trim(std::string_view text, std::string_view chars = " ") {
  const std::size_t start = text.find_first_not_of(chars);
  return start == std::string_view::npos ? std::string_view()
                                         : TrimRight(text.substr(start), chars);
}

inline char UpperChar(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
inline char LowerChar(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = UpperChar(c);
  return out;
}
inline std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = LowerChar(c);
  return out;
}

}  // namespace rt
