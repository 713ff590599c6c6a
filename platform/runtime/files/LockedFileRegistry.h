// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The files this process holds record locks on through a connection of its own: the tables
// the store has open, with their side files (log, shared memory, journal). Record locks belong
// to the process and the file, so closing ANY other descriptor of such a file drops them all,
// and another process then believes it is alone with the table. Whatever opens a file the
// user named asks here first and refuses a listed file without opening it.
//
// Files are known by device and inode, so links and other spellings of a name are caught.
// Side files may appear after the table was listed: they are looked up next to it, by name
// and identity, on every question.

#include <cstdint>
#include <string>

namespace rt {

class LockedFileRegistry {
 public:
  // Lists the file at `path` (which must exist); the entry's number is returned for Remove,
  // or 0 when the file cannot be found. The same file may be listed more than once (one
  // entry per connection); it stays listed until each entry is removed.
  static std::uint64_t Add(const std::string& path);
  static void Remove(std::uint64_t entry);

  // True when `path` names a listed file or one of its side files.
  static bool Holds(const std::string& path);
  // When Holds: sets the thread's error (access denied, with a message that says why) and
  // returns its code; otherwise returns 0 and leaves the error state alone.
  static int Refuse(const std::string& path);
  // The message of a refusal, for callers that report through their own channel.
  static std::string RefusalText(const std::string& path);
};

}  // namespace rt
