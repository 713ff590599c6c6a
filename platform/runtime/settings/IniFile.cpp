// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/settings/IniFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/runtime/files/FileHandle.h"
#include "platform/runtime/threads/ErrnoText.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Text.h"

namespace rt {

namespace {

// A line as in the file (without its line break); a section's or an entry's name and an
// entry's value as read back are parts of it.
struct Line {
  enum class Kind { Other, Section, Entry };
  Kind kind = Kind::Other;
  std::string raw;
  std::uint32_t nameAt = 0;
  std::uint32_t nameSize = 0;
  std::uint32_t valueAt = 0;
  std::uint32_t valueSize = 0;
  std::string_view Name() const { return std::string_view(raw).substr(nameAt, nameSize); }
  std::string_view Value() const { return std::string_view(raw).substr(valueAt, valueSize); }
};

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// Sections with at least this many lines get an index of their entries; smaller ones are
// searched line by line.
constexpr std::size_t kIndexedSection = 16;

// A section header and the lines up to the next header. `entries` (for large sections) finds
// the first line of each entry name by the name's hash; `nextSame` is the next block whose
// name has the same hash (the section's next occurrence, or a collision).
struct Block {
  Line header;
  std::vector<Line> body;
  bool indexed = false;
  std::unordered_map<std::uint64_t, std::size_t> entries;
  std::size_t nextSame = kNone;
};

// The parsed file: the lines before the first header, then the sections in file order.
// `sections` gives, per hash of a section name, the first block of that hash.
struct Document {
  std::vector<Line> preamble;
  std::vector<Block> blocks;
  std::unordered_map<std::uint64_t, std::size_t> sections;
  bool crlf = false;
  bool bom = false;
};

struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t mtimeNs = 0;
  mode_t mode = 0;
  bool operator==(const FileStamp&) const = default;
};

struct CacheEntry {
  FileStamp stamp;
  std::shared_ptr<Document> document;
};

std::mutex& Lock() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, CacheEntry>& Cache() {
  static std::map<std::string, CacheEntry> cache;
  return cache;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// An all-blank text gives an empty view at its end (not a null one): lines keep offsets of
// their parts.
std::string_view Trim(std::string_view s) {
  const std::string_view trimmed = rt::Trim(s, kBlanks);
  return trimmed.empty() ? s.substr(s.size()) : trimmed;
}

// Names match with the blanks around them and the case of ASCII letters ignored.
bool SameKey(std::string_view a, std::string_view b) {
  return SameName(Trim(a), Trim(b));
}

// A hash of the name as matched: blanks around it and the case of ASCII letters ignored.
std::uint64_t NameHash(std::string_view name) {
  name = Trim(name);
  std::uint64_t hash = 1469598103934665603ULL;
  for (char c : name)
    hash = (hash ^ static_cast<unsigned char>(UpperChar(c))) * 1099511628211ULL;
  return hash;
}

void IndexBlock(Block& block) {
  block.entries.clear();
  block.indexed = block.body.size() >= kIndexedSection;
  if (!block.indexed) return;
  block.entries.reserve(block.body.size());
  for (std::size_t i = 0; i < block.body.size(); ++i) {
    if (block.body[i].kind == Line::Kind::Entry)
      block.entries.try_emplace(NameHash(block.body[i].Name()), i);
  }
}

// After lines from `from` on moved up or went (those of the entry of hash `removed`), makes
// their index entries again; the index of the lines before `from` stays as it is.
void ReindexFrom(Block& block, std::size_t from, std::uint64_t removed) {
  const auto drop = [&](std::uint64_t hash) {
    const auto at = block.entries.find(hash);
    if (at != block.entries.end() && at->second >= from) block.entries.erase(at);
  };
  drop(removed);
  for (std::size_t i = from; i < block.body.size(); ++i) {
    if (block.body[i].kind == Line::Kind::Entry) drop(NameHash(block.body[i].Name()));
  }
  for (std::size_t i = from; i < block.body.size(); ++i) {
    if (block.body[i].kind == Line::Kind::Entry)
      block.entries.try_emplace(NameHash(block.body[i].Name()), i);
  }
}

void IndexSections(Document& doc) {
  doc.sections.clear();
  doc.sections.reserve(doc.blocks.size());
  for (std::size_t i = doc.blocks.size(); i-- > 0;) {
    auto [at, added] = doc.sections.try_emplace(NameHash(doc.blocks[i].header.Name()), i);
    doc.blocks[i].nextSame = added ? kNone : at->second;
    at->second = i;
  }
}

// Calls `visit` with the index of each occurrence of the section, in file order, until it
// returns true.
template <typename Doc, typename Visit>
void ForEachOccurrence(Doc& doc, std::string_view section, Visit&& visit) {
  auto found = doc.sections.find(NameHash(section));
  if (found == doc.sections.end()) return;
  for (std::size_t i = found->second; i != kNone; i = doc.blocks[i].nextSame) {
    if (SameKey(doc.blocks[i].header.Name(), section) && visit(i)) return;
  }
}

// The line of the entry's first occurrence in the block, or kNone.
std::size_t FindEntry(const Block& block, std::string_view entry) {
  if (block.indexed) {
    auto found = block.entries.find(NameHash(entry));
    if (found == block.entries.end()) return kNone;
    if (SameKey(block.body[found->second].Name(), entry)) return found->second;
    // Another name of the same hash came first: look line by line.
  }
  for (std::size_t i = 0; i < block.body.size(); ++i) {
    const Line& line = block.body[i];
    if (line.kind == Line::Kind::Entry && SameKey(line.Name(), entry)) return i;
  }
  return kNone;
}

Line ParseLine(std::string raw) {
  Line line;
  line.raw = std::move(raw);
  const std::string_view all(line.raw);
  auto offset = [&](std::string_view part) {
    return static_cast<std::uint32_t>(part.data() - all.data());
  };
  std::string_view text = Trim(all);
  if (!text.empty() && text.front() == '[') {
    std::size_t close = text.rfind(']');
    std::string_view name =
        close == std::string_view::npos || close == 0 ? text.substr(1) : text.substr(1, close - 1);
    name = Trim(name);
    line.kind = Line::Kind::Section;
    line.nameAt = offset(name);
    line.nameSize = static_cast<std::uint32_t>(name.size());
  } else if (!text.empty() && text.front() != ';' && text.front() != '#') {
    std::size_t equals = text.find('=');
    if (equals != std::string_view::npos) {
      std::string_view name = Trim(text.substr(0, equals));
      std::string_view value = Trim(text.substr(equals + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
      }
      if (!name.empty()) {
        line.kind = Line::Kind::Entry;
        line.nameAt = offset(name);
        line.nameSize = static_cast<std::uint32_t>(name.size());
        line.valueAt = offset(value);
        line.valueSize = static_cast<std::uint32_t>(value.size());
      }
    }
  }
  return line;
}

Document Parse(std::string_view content) {
  Document doc;
  if (content.substr(0, 3) == "\xEF\xBB\xBF") {
    doc.bom = true;
    content.remove_prefix(3);
  }
  std::size_t start = 0;
  bool first = true;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    std::size_t next = end == std::string_view::npos ? content.size() : end + 1;
    if (end == std::string_view::npos) end = content.size();
    std::string_view raw = content.substr(start, end - start);
    bool hasCr = !raw.empty() && raw.back() == '\r';
    if (hasCr) raw.remove_suffix(1);
    if (first) doc.crlf = hasCr && next <= content.size() && end < content.size();
    first = false;
    Line line = ParseLine(std::string(raw));
    if (line.kind == Line::Kind::Section) {
      doc.blocks.emplace_back().header = std::move(line);
    } else if (doc.blocks.empty()) {
      doc.preamble.push_back(std::move(line));
    } else {
      doc.blocks.back().body.push_back(std::move(line));
    }
    start = next;
  }
  for (Block& block : doc.blocks)
    IndexBlock(block);
  IndexSections(doc);
  return doc;
}

FileStamp Stamp(const std::string& path) {
  FileStamp stamp;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return stamp;
  stamp.exists = true;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.mode = st.st_mode;
  return stamp;
}

int CodeOfErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kNoFileError;
    case EACCES:
    case EPERM:
    case EROFS:
      return kAccessDenied;
    default:
      return kFileSystemError;
  }
}

int Report(int code, const std::string& path, const std::string& what) {
  SetError(code, StandardErrorText(code) + ": " + what + " (" + path + ")");
  return code;
}

// Reads the whole file (at most kMaxFileSize bytes). A missing file reads as empty. Opened
// as every user-named file is: without blocking, and only when it is a regular file, so a
// named pipe or a device in its place is refused instead of hanging the thread. Returns the
// runtime error code (error state set).
int ReadFile(const std::string& path, std::string& content, bool& truncated, std::size_t expected) {
  content.clear();
  truncated = false;
  FileHandle file;
  if (int e = file.Open(path, O_RDONLY)) {
    if (e != kNoFileError) return e;
    ClearError();  // gone since it was looked at: empty
    return kNoError;
  }
  content.reserve(std::min(expected, IniFile::kMaxFileSize));
  char buffer[65536];
  while (true) {
    ssize_t n = ::read(file.Fd(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FileHandle::FromErrno(errno, path);
    if (n == 0) break;
    std::size_t room = IniFile::kMaxFileSize - content.size();
    if (static_cast<std::size_t>(n) > room) {
      content.append(buffer, room);
      truncated = true;
      break;
    }
    content.append(buffer, static_cast<std::size_t>(n));
  }
  return kNoError;
}

bool HasNul(std::string_view path) {
  return path.find('\0') != std::string_view::npos;
}

// The parsed file, from the cache while the file on disk is the one read last (same
// identity, size and time), else read again. A file that cannot be read gives an empty
// document, is not cached, and its error code goes to `unreadable`. Lock() is held.
std::shared_ptr<Document> Load(const std::string& path, FileStamp& stamp, bool& tooLarge,
                               int* unreadable = nullptr) {
  // The system would read such a name only up to the NUL: another file.
  if (HasNul(path)) return std::make_shared<Document>();
  stamp = Stamp(path);
  tooLarge = stamp.exists && static_cast<std::size_t>(stamp.size) > IniFile::kMaxFileSize;
  auto& cache = Cache();
  auto it = cache.find(path);
  if (it != cache.end() && it->second.stamp == stamp) return it->second.document;
  std::string content;
  bool truncated = false;
  if (stamp.exists) {
    if (int e = ReadFile(path, content, truncated, static_cast<std::size_t>(stamp.size))) {
      if (unreadable) *unreadable = e;
      if (it != cache.end()) cache.erase(it);
      return std::make_shared<Document>();
    }
  }
  tooLarge = tooLarge || truncated;
  auto document = std::make_shared<Document>(Parse(content));
  if (cache.size() > 64) cache.clear();  // a process uses a handful of files
  cache[path] = CacheEntry{stamp, document};
  return document;
}

// The current document for a reader.
std::shared_ptr<const Document> Snapshot(const std::string& path) {
  std::lock_guard<std::mutex> lock(Lock());
  FileStamp stamp;
  bool tooLarge = false;
  return Load(path, stamp, tooLarge);
}

bool WriteAll(int fd, std::string_view data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes the document in one call: its text is built in one pass into a buffer sized first
// (no allocation per line), so the rewrite costs little beside the flush to disk.
bool WriteDocument(int fd, const Document& doc) {
  std::size_t size = doc.bom ? 3 : 0;
  std::size_t lines = doc.preamble.size();
  for (const Line& line : doc.preamble)
    size += line.raw.size();
  for (const Block& block : doc.blocks) {
    lines += 1 + block.body.size();
    size += block.header.raw.size();
    for (const Line& line : block.body)
      size += line.raw.size();
  }
  size += lines * (doc.crlf ? 2 : 1);
  // Not cleared first: every byte is written below.
  const auto out = std::make_unique_for_overwrite<char[]>(size);
  char* at = out.get();
  const auto put = [&](std::string_view text) {
    std::memcpy(at, text.data(), text.size());
    at += text.size();
  };
  if (doc.bom) put("\xEF\xBB\xBF");
  const auto append = [&](const Line& line) {
    put(line.raw);
    if (doc.crlf) *at++ = '\r';
    *at++ = '\n';
  };
  for (const Line& line : doc.preamble)
    append(line);
  for (const Block& block : doc.blocks) {
    append(block.header);
    for (const Line& line : block.body)
      append(line);
  }
  return WriteAll(fd, std::string_view(out.get(), size));
}

// Replaces the file with the document through a temporary file in the same folder; the
// document becomes the cached one.
int Store(const std::string& path, std::shared_ptr<Document> doc, const FileStamp& old) {
  static std::atomic<unsigned> counter{0};
  std::string target = path;
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    // Keep the link: replace the file it points to.
    auto resolved = std::filesystem::canonical(path, ec);
    if (!ec) target = resolved.string();
  }
  std::string temp =
      target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
  mode_t mode = old.exists ? (old.mode & 07777) : 0666;
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return Report(CodeOfErrno(errno), path, ErrnoText(errno));
  if (old.exists) (void)::fchmod(fd, mode);  // open() applied the umask
  bool ok = WriteDocument(fd, *doc) && ::fsync(fd) == 0;
  int writeError = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    writeError = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return Report(kFileSystemError, path, ErrnoText(writeError));
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int renameError = errno;
    ::unlink(temp.c_str());
    return Report(CodeOfErrno(renameError), path, ErrnoText(renameError));
  }
  Cache()[path] = CacheEntry{Stamp(path), std::move(doc)};
  return kNoError;
}

bool ValidName(std::string_view name, bool entry) {
  std::string_view trimmed = Trim(name);
  if (trimmed.empty()) return false;
  if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return false;
  if (entry) {
    if (name.find('=') != std::string_view::npos) return false;
    char c = trimmed.front();
    if (c == '[' || c == ';' || c == '#') return false;
  }
  return true;
}

std::string EntryLine(std::string_view name, std::string_view value) {
  bool quote =
      !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                         (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
  std::string raw(Trim(name));
  raw += '=';
  if (quote) raw += '"';
  raw += value;
  if (quote) raw += '"';
  return raw;
}

// The last line of the document, null when it is empty.
Line* LastLine(Document& doc) {
  if (doc.blocks.empty()) return doc.preamble.empty() ? nullptr : &doc.preamble.back();
  Block& last = doc.blocks.back();
  return last.body.empty() ? &last.header : &last.body.back();
}

// Sets an entry: changed in place in the first occurrence of the section that holds it,
// otherwise added after the last entry of the section's first occurrence, or in a new
// section at the end. False when the entry already had the value.
bool PutEntry(Document& doc, std::string_view section, std::string_view entry,
              std::string_view value) {
  std::size_t first = kNone;
  bool changed = false;
  bool found = false;
  ForEachOccurrence(doc, section, [&](std::size_t index) {
    if (first == kNone) first = index;
    Block& block = doc.blocks[index];
    const std::size_t at = FindEntry(block, entry);
    if (at == kNone) return false;
    found = true;
    Line& line = block.body[at];
    if (line.Value() == value) return true;  // already so: no rewrite
    line = ParseLine(EntryLine(line.Name(), value));
    changed = true;
    return true;
  });
  if (found) return changed;
  if (first != kNone) {
    Block& block = doc.blocks[first];
    std::size_t insertAt = block.body.size();
    while (insertAt > 0 && block.body[insertAt - 1].kind != Line::Kind::Entry)
      --insertAt;
    // Only lines that are not entries follow: the index of every entry stays valid.
    block.body.insert(block.body.begin() + static_cast<std::ptrdiff_t>(insertAt),
                      ParseLine(EntryLine(entry, value)));
    if (block.indexed)
      block.entries.try_emplace(NameHash(entry), insertAt);
    else if (block.body.size() >= kIndexedSection)
      IndexBlock(block);
    return true;
  }
  if (Line* last = LastLine(doc); last && !Trim(last->raw).empty()) {
    if (doc.blocks.empty())
      doc.preamble.push_back(ParseLine(""));
    else
      doc.blocks.back().body.push_back(ParseLine(""));
  }
  const std::size_t index = doc.blocks.size();
  Block& block = doc.blocks.emplace_back();
  block.header = ParseLine("[" + std::string(Trim(section)) + "]");
  block.body.push_back(ParseLine(EntryLine(entry, value)));
  // Last in the chain of its hash.
  auto [at, added] = doc.sections.try_emplace(NameHash(block.header.Name()), index);
  if (!added) {
    std::size_t i = at->second;
    while (doc.blocks[i].nextSame != kNone)
      i = doc.blocks[i].nextSame;
    doc.blocks[i].nextSame = index;
  }
  return true;
}

// Removes every occurrence of the entry in every occurrence of the section.
bool DeleteEntryLines(Document& doc, std::string_view section, std::string_view entry) {
  bool changed = false;
  ForEachOccurrence(doc, section, [&](std::size_t index) {
    Block& block = doc.blocks[index];
    const std::size_t first = FindEntry(block, entry);
    if (first == kNone) return false;
    block.body.erase(
        std::remove_if(block.body.begin() + static_cast<std::ptrdiff_t>(first), block.body.end(),
                       [&](const Line& line) {
                         return line.kind == Line::Kind::Entry && SameKey(line.Name(), entry);
                       }),
        block.body.end());
    // Only the lines after the first removed one moved.
    if (block.indexed && block.body.size() >= kIndexedSection)
      ReindexFrom(block, first, NameHash(entry));
    else
      IndexBlock(block);
    changed = true;
    return false;
  });
  return changed;
}

// Removes every occurrence of the section with all its lines.
bool DeleteSectionLines(Document& doc, std::string_view section) {
  std::vector<std::size_t> indexes;
  ForEachOccurrence(doc, section, [&](std::size_t index) {
    indexes.push_back(index);
    return false;
  });
  if (indexes.empty()) return false;
  std::sort(indexes.begin(), indexes.end());
  // The blocks of the same hash that stay (other names of that hash), in file order.
  const std::uint64_t hash = NameHash(section);
  std::vector<std::size_t> kept;
  for (std::size_t i = doc.sections.at(hash); i != kNone; i = doc.blocks[i].nextSame) {
    if (!std::binary_search(indexes.begin(), indexes.end(), i)) kept.push_back(i);
  }
  for (auto it = indexes.rbegin(); it != indexes.rend(); ++it)
    doc.blocks.erase(doc.blocks.begin() + static_cast<std::ptrdiff_t>(*it));
  // A block's new index is its old one less the removed blocks before it; only the chain of
  // the removed name's hash is linked anew, the section index is not rebuilt.
  const auto renumber = [&](std::size_t old) {
    if (old == kNone) return kNone;
    return old - static_cast<std::size_t>(std::lower_bound(indexes.begin(), indexes.end(), old) -
                                          indexes.begin());
  };
  if (indexes.front() < doc.blocks.size()) {
    for (Block& block : doc.blocks)
      block.nextSame = renumber(block.nextSame);
    for (auto& [name, first] : doc.sections)
      first = renumber(first);
  }
  if (kept.empty()) {
    doc.sections.erase(hash);
  } else {
    doc.sections[hash] = renumber(kept.front());
    for (std::size_t k = 0; k < kept.size(); ++k) {
      doc.blocks[renumber(kept[k])].nextSame = k + 1 < kept.size() ? renumber(kept[k + 1]) : kNone;
    }
  }
  // Blank lines that separated a removed last section go with it.
  while (true) {
    std::vector<Line>& tail = doc.blocks.empty() ? doc.preamble : doc.blocks.back().body;
    if (tail.empty() || !Trim(tail.back().raw).empty()) break;
    tail.pop_back();
  }
  return true;
}

// An exclusive advisory lock on "<file>.lock" next to the file, held by every writer (of
// any process) for its whole read-modify-write, so no write is lost to another's. Readers
// need none: the rename shows them the old or the new file whole.
class CrossProcessLock {
 public:
  explicit CrossProcessLock(const std::string& path) {
    const std::string lockPath = path + ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    // A lock file someone made read-only still takes a lock when opened for reading.
    if (fd_ < 0 && errno == EACCES)
      fd_ = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
      error_ = errno;
      return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
  ~CrossProcessLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  CrossProcessLock(const CrossProcessLock&) = delete;
  CrossProcessLock& operator=(const CrossProcessLock&) = delete;

  // 0 when held, else the errno of the failure.
  int Error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

// True when the file may not be written: no write bit at all (checked on the mode bits, as a
// privileged user could write anyway), or no write permission for this user.
bool WriteProtected(const std::string& path, const FileStamp& stamp) {
  if (!stamp.exists) return false;
  if ((stamp.mode & 0222) == 0) return true;
  return ::access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS);
}

// Runs a change on the current document and stores it, in one rewrite, when the change
// reports one.
int Modify(const std::string& path, const std::function<bool(Document&)>& change) {
  if (HasNul(path)) return Report(kBadNameError, path, "the file name holds a NUL character");
  std::lock_guard<std::mutex> lock(Lock());
  CrossProcessLock fileLock(path);
  if (int error = fileLock.Error()) {
    return Report(CodeOfErrno(error), path, std::string("lock: ") + ErrnoText(error));
  }
  FileStamp stamp;
  bool tooLarge = false;
  int unreadable = kNoError;
  // Looked at under the lock: a file another process wrote since the last read differs in
  // identity, size or time and is read again.
  std::shared_ptr<Document> current = Load(path, stamp, tooLarge, &unreadable);
  if (tooLarge) return Report(kFileSystemError, path, "file too large to rewrite");
  // Rewriting what could not be read would drop every entry in it (or replace a named pipe
  // or a device with a file).
  if (unreadable != kNoError) return Report(unreadable, path, "the file cannot be read");
  // Changed in place when no reader holds the document; until stored, it is not the cached
  // one, so a failure leaves the next read to load the file again.
  Cache().erase(path);
  std::shared_ptr<Document> doc =
      current.use_count() == 1 ? std::move(current) : std::make_shared<Document>(*current);
  if (!change(*doc)) {
    Cache()[path] = CacheEntry{stamp, std::move(doc)};
    return kNoError;
  }
  // The rename would replace a write-protected file: refuse instead and leave it as it is.
  if (WriteProtected(path, stamp)) return Report(kAccessDenied, path, "the file is read-only");
  return Store(path, std::move(doc), stamp);
}

}  // namespace

IniFile::IniFile(std::string_view path) : path_(NormalizePath(path)) {}

std::string IniFile::NormalizePath(std::string_view path) {
  std::string p(path);
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  return p;
}

int IniFile::Verify() const {
  if (HasNul(path_)) return Report(kBadNameError, path_, "the file name holds a NUL character");
  std::lock_guard<std::mutex> lock(Lock());
  FileStamp stamp;
  bool tooLarge = false;
  int unreadable = kNoError;
  Load(path_, stamp, tooLarge, &unreadable);
  if (unreadable == kNoError) ClearError();
  return unreadable;
}

std::string IniFile::Get(std::string_view section, std::string_view entry,
                         std::string_view defaultValue) const {
  const std::shared_ptr<const Document> doc = Snapshot(path_);
  std::string value(defaultValue);
  ForEachOccurrence(*doc, section, [&](std::size_t index) {
    const Block& block = doc->blocks[index];
    const std::size_t at = FindEntry(block, entry);
    if (at == kNone) return false;
    value = block.body[at].Value();
    return true;
  });
  return value;
}

bool IniFile::Has(std::string_view section, std::string_view entry) const {
  // A default that no stored value can equal (stored values have no line breaks).
  static const std::string kMissing = "\n";
  return Get(section, entry, kMissing) != kMissing;
}

std::vector<std::string> IniFile::Sections() const {
  const std::shared_ptr<const Document> doc = Snapshot(path_);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < doc->blocks.size(); ++i) {
    const std::string_view name = doc->blocks[i].header.Name();
    std::size_t first = kNone;
    ForEachOccurrence(*doc, name, [&](std::size_t index) {
      first = index;
      return true;
    });
    if (first == i) names.emplace_back(name);
  }
  return names;
}

std::vector<std::pair<std::string, std::string>> IniFile::Values(std::string_view section) const {
  const std::shared_ptr<const Document> doc = Snapshot(path_);
  std::vector<std::pair<std::string, std::string>> values;
  std::size_t first = kNone;
  ForEachOccurrence(*doc, section, [&](std::size_t index) {
    const Block& block = doc->blocks[index];
    if (first == kNone) first = index;
    for (std::size_t i = 0; i < block.body.size(); ++i) {
      const Line& line = block.body[i];
      if (line.kind != Line::Kind::Entry) continue;
      // The first occurrence of each name only.
      bool earlier = false;
      for (std::size_t b = first; b != index && !earlier; b = doc->blocks[b].nextSame) {
        earlier = SameKey(doc->blocks[b].header.Name(), section) &&
                  FindEntry(doc->blocks[b], line.Name()) != kNone;
      }
      if (!earlier && FindEntry(block, line.Name()) == i)
        values.emplace_back(line.Name(), line.Value());
    }
    return false;
  });
  return values;
}

std::vector<std::string> IniFile::Entries(std::string_view section) const {
  std::vector<std::string> names;
  for (auto& [name, value] : Values(section))
    names.push_back(std::move(name));
  return names;
}

int IniFile::Put(std::string_view section, std::string_view entry, std::string_view value) {
  return Apply(
      {Change{Change::Kind::Put, std::string(section), std::string(entry), std::string(value)}});
}

int IniFile::DeleteEntry(std::string_view section, std::string_view entry) {
  return Apply({Change{Change::Kind::DeleteEntry, std::string(section), std::string(entry), {}}});
}

int IniFile::DeleteSection(std::string_view section) {
  return Apply({Change{Change::Kind::DeleteSection, std::string(section), {}, {}}});
}

int IniFile::Apply(const std::vector<Change>& changes) {
  for (const Change& c : changes) {
    if (c.kind != Change::Kind::Put) continue;
    if (!ValidName(c.section, false) || !ValidName(c.entry, true)) {
      return Report(kBadNameError, path_, "invalid section or entry name");
    }
    if (c.value.find_first_of("\r\n") != std::string_view::npos) {
      return Report(kBadNameError, path_, "a value cannot hold a line break");
    }
  }
  return Modify(path_, [&](Document& doc) {
    bool changed = false;
    for (const Change& c : changes) {
      switch (c.kind) {
        case Change::Kind::Put:
          changed = PutEntry(doc, c.section, c.entry, c.value) || changed;
          break;
        case Change::Kind::DeleteEntry:
          changed = DeleteEntryLines(doc, c.section, c.entry) || changed;
          break;
        case Change::Kind::DeleteSection:
          changed = DeleteSectionLines(doc, c.section) || changed;
          break;
      }
    }
    return changed;
  });
}

std::string IniFile::Read(std::string_view section, std::string_view entry,
                          std::string_view defaultValue, std::string_view fileName) {
  return IniFile(fileName).Get(section, entry, defaultValue);
}

int IniFile::Write(std::string_view section, std::string_view entry,
                   std::optional<std::string_view> value, std::string_view fileName) {
  IniFile file(fileName);
  return value ? file.Put(section, entry, *value) : file.DeleteEntry(section, entry);
}

}  // namespace rt
