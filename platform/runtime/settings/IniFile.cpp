#include "platform/runtime/settings/IniFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/runtime/threads/ErrnoText.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {

namespace {

struct Line {
  enum class Kind { Other, Section, Entry };
  Kind kind = Kind::Other;
  std::string raw;    // the line as in the file, without its line break
  std::string name;   // section or entry name, trimmed
  std::string value;  // entry value as read back
};

struct Document {
  std::vector<Line> lines;
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
  std::shared_ptr<const Document> document;
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

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back()))
    s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

Line ParseLine(std::string raw) {
  Line line;
  std::string_view text = Trim(raw);
  if (!text.empty() && text.front() == '[') {
    std::size_t close = text.rfind(']');
    std::string_view name =
        close == std::string_view::npos || close == 0 ? text.substr(1) : text.substr(1, close - 1);
    line.kind = Line::Kind::Section;
    line.name = std::string(Trim(name));
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
        line.name = std::string(name);
        line.value = std::string(value);
      }
    }
  }
  line.raw = std::move(raw);
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
    doc.lines.push_back(ParseLine(std::string(raw)));
    start = next;
  }
  return doc;
}

std::string Serialize(const Document& doc) {
  std::string out;
  if (doc.bom) out = "\xEF\xBB\xBF";
  const char* eol = doc.crlf ? "\r\n" : "\n";
  for (const Line& line : doc.lines) {
    out += line.raw;
    out += eol;
  }
  return out;
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

// Reads the whole file (at most kMaxFileSize bytes). A missing file reads as empty.
bool ReadFile(const std::string& path, std::string& content, bool& truncated) {
  content.clear();
  truncated = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  char buffer[65536];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    std::size_t room = IniFile::kMaxFileSize - content.size();
    if (static_cast<std::size_t>(n) > room) {
      content.append(buffer, room);
      truncated = true;
      break;
    }
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

bool HasNul(std::string_view path) {
  return path.find('\0') != std::string_view::npos;
}

// The parsed file, from the cache while the file on disk is unchanged (unless `fresh`).
// Lock() is held.
std::shared_ptr<const Document> Load(const std::string& path, FileStamp& stamp, bool& tooLarge,
                                     bool fresh = false, bool* unreadable = nullptr) {
  // The system would read such a name only up to the NUL: another file.
  if (HasNul(path)) return std::make_shared<const Document>();
  stamp = Stamp(path);
  tooLarge = stamp.exists && static_cast<std::size_t>(stamp.size) > IniFile::kMaxFileSize;
  auto& cache = Cache();
  auto it = cache.find(path);
  if (!fresh && it != cache.end() && it->second.stamp == stamp) return it->second.document;
  std::string content;
  bool truncated = false;
  if (stamp.exists && !ReadFile(path, content, truncated)) {
    // Unreadable: reads see nothing; not cached, so the next call tries again.
    if (unreadable) *unreadable = true;
    return std::make_shared<const Document>();
  }
  tooLarge = tooLarge || truncated;
  auto document = std::make_shared<const Document>(Parse(content));
  if (cache.size() > 64) cache.clear();  // a process uses a handful of files
  cache[path] = CacheEntry{stamp, document};
  return document;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Replaces the file with the document through a temporary file in the same folder.
int Store(const std::string& path, const Document& doc, const FileStamp& old) {
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
  std::string data = Serialize(doc);
  bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
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
  Cache()[path] = CacheEntry{Stamp(path), std::make_shared<const Document>(doc)};
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

// An exclusive advisory lock on "<file>.lock" next to the file, held by every writer (of
// any process) for its whole read-modify-write, so no write is lost to another's. Readers
// need none: the rename shows them the old or the new file whole.
class CrossProcessLock {
 public:
  explicit CrossProcessLock(const std::string& path) {
    const std::string lockPath = path + ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    // A lock file someone made read-only still takes a lock when opened for reading.
    if (fd_ < 0 && errno == EACCES) fd_ = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
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

// Runs a change on the current document and stores it when the change reports one.
int Modify(const std::string& path, const std::function<bool(Document&)>& change) {
  if (HasNul(path)) return Report(kBadNameError, path, "the file name holds a NUL character");
  std::lock_guard<std::mutex> lock(Lock());
  CrossProcessLock fileLock(path);
  if (int error = fileLock.Error()) {
    return Report(CodeOfErrno(error), path, std::string("lock: ") + ErrnoText(error));
  }
  FileStamp stamp;
  bool tooLarge = false;
  bool unreadable = false;
  // Read from disk under the lock: another process may have written since the last read.
  auto current = Load(path, stamp, tooLarge, true, &unreadable);
  if (tooLarge) return Report(kFileSystemError, path, "file too large to rewrite");
  // Rewriting what could not be read would drop every entry in it.
  if (unreadable) return Report(kAccessDenied, path, "the file cannot be read");
  Document doc = *current;
  if (!change(doc)) return kNoError;
  // The rename would replace a write-protected file: refuse instead and leave it as it is.
  if (WriteProtected(path, stamp)) return Report(kAccessDenied, path, "the file is read-only");
  return Store(path, doc, stamp);
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

std::string IniFile::Get(std::string_view section, std::string_view entry,
                         std::string_view defaultValue) const {
  std::shared_ptr<const Document> doc;
  {
    std::lock_guard<std::mutex> lock(Lock());
    FileStamp stamp;
    bool tooLarge = false;
    doc = Load(path_, stamp, tooLarge);
  }
  std::string_view wantSection = Trim(section);
  std::string_view wantEntry = Trim(entry);
  bool inSection = false;
  for (const Line& line : doc->lines) {
    if (line.kind == Line::Kind::Section) {
      inSection = SameName(line.name, wantSection);
    } else if (inSection && line.kind == Line::Kind::Entry && SameName(line.name, wantEntry)) {
      return line.value;
    }
  }
  return std::string(defaultValue);
}

bool IniFile::Has(std::string_view section, std::string_view entry) const {
  // A default that no stored value can equal (stored values have no line breaks).
  static const std::string kMissing = "\n";
  return Get(section, entry, kMissing) != kMissing;
}

std::vector<std::string> IniFile::Sections() const {
  std::shared_ptr<const Document> doc;
  {
    std::lock_guard<std::mutex> lock(Lock());
    FileStamp stamp;
    bool tooLarge = false;
    doc = Load(path_, stamp, tooLarge);
  }
  std::vector<std::string> names;
  for (const Line& line : doc->lines) {
    if (line.kind != Line::Kind::Section) continue;
    bool seen = false;
    for (const std::string& name : names)
      seen = seen || SameName(name, line.name);
    if (!seen) names.push_back(line.name);
  }
  return names;
}

std::vector<std::string> IniFile::Entries(std::string_view section) const {
  std::shared_ptr<const Document> doc;
  {
    std::lock_guard<std::mutex> lock(Lock());
    FileStamp stamp;
    bool tooLarge = false;
    doc = Load(path_, stamp, tooLarge);
  }
  std::string_view wantSection = Trim(section);
  std::vector<std::string> names;
  bool inSection = false;
  for (const Line& line : doc->lines) {
    if (line.kind == Line::Kind::Section) {
      inSection = SameName(line.name, wantSection);
    } else if (inSection && line.kind == Line::Kind::Entry) {
      bool seen = false;
      for (const std::string& name : names)
        seen = seen || SameName(name, line.name);
      if (!seen) names.push_back(line.name);
    }
  }
  return names;
}

int IniFile::Put(std::string_view section, std::string_view entry, std::string_view value) {
  if (!ValidName(section, false) || !ValidName(entry, true)) {
    return Report(kBadNameError, path_, "invalid section or entry name");
  }
  if (value.find_first_of("\r\n") != std::string_view::npos) {
    return Report(kBadNameError, path_, "a value cannot hold a line break");
  }
  std::string_view wantSection = Trim(section);
  std::string_view wantEntry = Trim(entry);
  return Modify(path_, [&](Document& doc) {
    auto& lines = doc.lines;
    // An existing entry, in any occurrence of the section, is changed in place.
    bool inSection = false;
    for (Line& line : lines) {
      if (line.kind == Line::Kind::Section) {
        inSection = SameName(line.name, wantSection);
      } else if (inSection && line.kind == Line::Kind::Entry && SameName(line.name, wantEntry)) {
        if (line.value == value) return false;  // already so: no rewrite
        line = ParseLine(EntryLine(line.name, value));
        return true;
      }
    }
    // Otherwise it goes after the last entry of the section's first occurrence.
    std::size_t header = lines.size();
    for (std::size_t i = 0; i < lines.size() && header == lines.size(); ++i) {
      if (lines[i].kind == Line::Kind::Section && SameName(lines[i].name, wantSection)) header = i;
    }
    if (header == lines.size()) {
      if (!lines.empty() && !Trim(lines.back().raw).empty()) lines.push_back(ParseLine(""));
      lines.push_back(ParseLine("[" + std::string(wantSection) + "]"));
      lines.push_back(ParseLine(EntryLine(wantEntry, value)));
      return true;
    }
    std::size_t insertAt = header + 1;
    for (std::size_t i = header + 1; i < lines.size() && lines[i].kind != Line::Kind::Section;
         ++i) {
      if (lines[i].kind == Line::Kind::Entry) insertAt = i + 1;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                 ParseLine(EntryLine(wantEntry, value)));
    return true;
  });
}

int IniFile::DeleteEntry(std::string_view section, std::string_view entry) {
  std::string_view wantSection = Trim(section);
  std::string_view wantEntry = Trim(entry);
  return Modify(path_, [&](Document& doc) {
    bool inSection = false;
    std::vector<Line> kept;
    kept.reserve(doc.lines.size());
    for (Line& line : doc.lines) {
      if (line.kind == Line::Kind::Section) inSection = SameName(line.name, wantSection);
      if (inSection && line.kind == Line::Kind::Entry && SameName(line.name, wantEntry)) continue;
      kept.push_back(std::move(line));
    }
    bool changed = kept.size() != doc.lines.size();
    doc.lines = std::move(kept);
    return changed;
  });
}

int IniFile::DeleteSection(std::string_view section) {
  std::string_view wantSection = Trim(section);
  return Modify(path_, [&](Document& doc) {
    bool inSection = false;
    std::vector<Line> kept;
    kept.reserve(doc.lines.size());
    for (Line& line : doc.lines) {
      if (line.kind == Line::Kind::Section) inSection = SameName(line.name, wantSection);
      if (inSection) continue;
      kept.push_back(std::move(line));
    }
    bool changed = kept.size() != doc.lines.size();
    // Blank lines that separated a removed last section go with it.
    while (changed && !kept.empty() && Trim(kept.back().raw).empty())
      kept.pop_back();
    doc.lines = std::move(kept);
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
