// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// platform/runtime/settings: settings files of sections and entries, and the per-user
// registry store.
//
// Settings files of "[section]" headers and "entry=value" lines. Sections and entries are
// matched without regard to case (ASCII). A missing file reads as empty and is created by
// the first write. Every write rewrites the whole file through a temporary file and a rename,
// so a reader (in this or another process) sees either the old or the new file, never a torn
// one; lines the write does not concern (comments, other sections, lines that are not
// entries) are kept as they were.
//
// Reading is forgiving: a header without "]" names a section with the rest of the line, a
// header's name runs to the last "]" on the line, lines starting with ";" or "#" are
// comments, lines without "=" and entries before the first header are ignored. When a
// section or an entry appears more than once, the first occurrence is read.
//
// A value read back is the text after "=" with surrounding blanks removed and one pair of
// enclosing double quotes taken off; a value written with surrounding blanks or enclosing
// quotes is quoted, so every value without a line break reads back as written.
//
// Paths may use "\" as the separator (".\PageletDemo.INI" is the file in the working
// directory). All operations of the process are serialised by one lock; a file is read and
// parsed once, kept with an index of its sections and entries, and read again only when
// the file on disk is another (its identity, size or time changed). A write also holds an
// advisory lock on "<file>.lock" in the same folder from its look at the file to its rename,
// so writers in different processes never lose each other's entries: a file another
// process wrote is read again under that lock before it is changed.
//
// The file is opened without blocking and only when it is a regular file: a named pipe or a
// device in its place reads as empty (Verify tells why) and is never written over.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rt {

class IniFile {
 public:
  // Files larger than this are read up to this size and refused for writing.
  static constexpr std::size_t kMaxFileSize = 64u << 20;

  explicit IniFile(std::string_view path);

  const std::string& Path() const { return path_; }

  // kNoError when the file is missing or a regular file that can be read; otherwise the
  // error code, with the thread's error state telling what is wrong (kAccessDenied for a
  // named pipe, a device or a folder, or a file without read permission).
  int Verify() const;

  // The value of the entry, or `defaultValue` when the file, the section or the entry is
  // missing.
  std::string Get(std::string_view section, std::string_view entry,
                  std::string_view defaultValue = {}) const;
  bool Has(std::string_view section, std::string_view entry) const;
  // Section names and a section's entry names, first occurrence each, in file order.
  std::vector<std::string> Sections() const;
  std::vector<std::string> Entries(std::string_view section) const;
  // A section's entries (first occurrence of each name) with their values, in file order.
  std::vector<std::pair<std::string, std::string>> Values(std::string_view section) const;

  // Sets the entry's value, adding the section and the entry when missing. Returns kNoError,
  // or an error code after setting the thread's runtime error (the file is then unchanged):
  // kBadNameError for a name or value that cannot be stored (empty name, line breaks, "="
  // in an entry name, a NUL in the file name), kNoFileError when the folder does not exist,
  // kAccessDenied (also for a file without write permission or one that cannot be read),
  // kFileSystemError for other failures.
  int Put(std::string_view section, std::string_view entry, std::string_view value);
  // Removes the entry (every occurrence in the section). Removing what is not there succeeds
  // and leaves the file alone.
  int DeleteEntry(std::string_view section, std::string_view entry);
  // Removes every occurrence of the section with all its lines.
  int DeleteSection(std::string_view section);

  // One change of a batch: set an entry, remove an entry, remove a section.
  struct Change {
    enum class Kind { Put, DeleteEntry, DeleteSection };
    Kind kind = Kind::Put;
    std::string section;
    std::string entry;
    std::string value;
  };
  // Makes all the changes in one rewrite of the file, or none of them (the error code is
  // then returned as for Put).
  int Apply(const std::vector<Change>& changes);

  // The runtime's INI calls: read with a default; write, where a missing value deletes the
  // entry.
  static std::string Read(std::string_view section, std::string_view entry,
                          std::string_view defaultValue, std::string_view fileName);
  static int Write(std::string_view section, std::string_view entry,
                   std::optional<std::string_view> value, std::string_view fileName);

  // "\" turned into "/".
  static std::string NormalizePath(std::string_view path);

 private:
  std::string path_;
};

}  // namespace rt
