// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/files/FilePosition.h"

#include <algorithm>
#include <cstring>

namespace rt {

namespace {

constexpr char kFileTag = 'F';
constexpr char kKeyTag = 'K';
constexpr char kKeyRecordTag = 'R';

void PutU64(std::string& out, std::uint64_t v) {
  char bytes[8];
  for (int i = 7; i >= 0; --i) {
    bytes[i] = static_cast<char>(v & 0xFF);
    v >>= 8;
  }
  out.append(bytes, sizeof bytes);
}

// Writes the low `bytes` bytes of v, most significant first; returns the end.
char* Put(char* o, std::uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    o[i] = static_cast<char>(v & 0xFF);
    v >>= 8;
  }
  return o + bytes;
}

void PutU16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v & 0xFF));
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : bytes_(bytes) {}
  bool Take(std::size_t n, std::string_view& out) {
    if (bytes_.size() - pos_ < n) return false;
    out = bytes_.substr(pos_, n);
    pos_ += n;
    return true;
  }
  bool U64(std::uint64_t& v) {
    std::string_view s;
    if (!Take(8, s)) return false;
    v = 0;
    for (char c : s)
      v = (v << 8) | static_cast<unsigned char>(c);
    return true;
  }
  bool U16(std::uint16_t& v) {
    std::string_view s;
    if (!Take(2, s)) return false;
    v = static_cast<std::uint16_t>((static_cast<unsigned char>(s[0]) << 8) |
                                   static_cast<unsigned char>(s[1]));
    return true;
  }
  bool AtEnd() const { return pos_ == bytes_.size(); }

 private:
  std::string_view bytes_;
  std::size_t pos_ = 0;
};

}  // namespace

std::string FilePosition::Encode() const {
  std::string out;
  if (kind == Kind::File) {
    out.push_back(kFileTag);
    PutU64(out, static_cast<std::uint64_t>(record));
    return out;
  }
  if (kind == Kind::Key) {
    AppendKey(out, key, values, record);
    return out;
  }
  out.push_back(kKeyRecordTag);
  PutU16(out, static_cast<std::uint16_t>(key));
  PutU64(out, static_cast<std::uint64_t>(record));
  return out;
}

void FilePosition::AppendKey(std::string& out, int key, const std::vector<KeyValue>& values,
                             std::int64_t record) {
  // Sized first and written in place: a list encodes a position for every row it shows.
  std::size_t size = 1 + 2 + 2;
  for (const KeyValue& v : values) {
    size += 1 + 8;
    if (const auto* t = std::get_if<std::string>(&v)) size += t->size();
  }
  if (size > kMaxPositionSize - 8) {
    // The values do not fit: the record id alone.
    out.push_back(kKeyRecordTag);
    PutU16(out, static_cast<std::uint16_t>(key));
    PutU64(out, static_cast<std::uint64_t>(record));
    return;
  }
  const std::size_t start = out.size();
  out.resize(start + size + 8);
  char* o = out.data() + start;
  *o++ = kKeyTag;
  o = Put(o, static_cast<std::uint16_t>(key), 2);
  o = Put(o, static_cast<std::uint16_t>(values.size()), 2);
  for (const KeyValue& v : values) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
      *o++ = 'i';
      o = Put(o, static_cast<std::uint64_t>(*i), 8);
    } else if (const auto* d = std::get_if<double>(&v)) {
      std::uint64_t bits;
      std::memcpy(&bits, d, sizeof bits);
      *o++ = 'r';
      o = Put(o, bits, 8);
    } else {
      const auto& t = std::get<std::string>(v);
      *o++ = 't';
      o = Put(o, t.size(), 8);
      o = std::copy(t.begin(), t.end(), o);
    }
  }
  Put(o, static_cast<std::uint64_t>(record), 8);
}

std::optional<FilePosition> FilePosition::Decode(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > kMaxPositionSize) return std::nullopt;
  Reader r(bytes.substr(1));
  FilePosition p;
  std::uint64_t u = 0;
  std::uint16_t k = 0;
  switch (bytes[0]) {
    case kFileTag:
      p.kind = Kind::File;
      if (!r.U64(u)) return std::nullopt;
      break;
    case kKeyRecordTag:
      p.kind = Kind::KeyRecordOnly;
      if (!r.U16(k) || !r.U64(u)) return std::nullopt;
      break;
    case kKeyTag: {
      p.kind = Kind::Key;
      std::uint16_t count = 0;
      if (!r.U16(k) || !r.U16(count)) return std::nullopt;
      for (int i = 0; i < count; ++i) {
        std::string_view tag;
        std::uint64_t v = 0;
        if (!r.Take(1, tag) || !r.U64(v)) return std::nullopt;
        if (tag[0] == 'i') {
          p.values.emplace_back(static_cast<std::int64_t>(v));
        } else if (tag[0] == 'r') {
          double d;
          std::memcpy(&d, &v, sizeof d);
          p.values.emplace_back(d);
        } else if (tag[0] == 't') {
          std::string_view text;
          if (v > kMaxPositionSize || !r.Take(static_cast<std::size_t>(v), text)) {
            return std::nullopt;
          }
          p.values.emplace_back(std::string(text));
        } else {
          return std::nullopt;
        }
      }
      if (!r.U64(u)) return std::nullopt;
      break;
    }
    default:
      return std::nullopt;
  }
  if (!r.AtEnd()) return std::nullopt;
  p.key = k;
  p.record = static_cast<std::int64_t>(u);
  return p;
}

}  // namespace rt
