// SPDX-License-Identifier: GPL-3.0-or-later
// Files listed as a table's are refused by whatever opens user-named files, whatever the
// spelling, side files included, and only while listed.

#include "platform/runtime/files/LockedFileRegistry.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/runtime/files/FileHandle.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "support/TempDir.h"

namespace rt {
namespace {

namespace fs = std::filesystem;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(LockedFileRegistryTest, RefusesEverySpellingAndSideFileOnlyWhileListed) {
  testing_support::TempDir dir;
  ASSERT_TRUE(dir.Ok());
  const std::string table = dir.Write("TABLE.sqlite", "table bytes");
  const std::string other = dir.Write("TABLE.sqlite-other", "x");
  EXPECT_EQ(LockedFileRegistry::Add(dir.File("missing")), 0u);

  const std::uint64_t first = LockedFileRegistry::Add(table);
  const std::uint64_t second = LockedFileRegistry::Add(table);  // a second connection
  ASSERT_NE(first, 0u);
  // A log that appears after the table was listed, a link and another spelling.
  const std::string wal = dir.Write("TABLE.sqlite-wal", "log");
  fs::create_symlink(wal, dir.File("innocent.pdf"));
  fs::create_hard_link(table, dir.File("copy.pdf"));
  for (const std::string& name : {table, wal, dir.File("innocent.pdf"), dir.File("copy.pdf"),
                                  (dir.Path() / "." / "TABLE.sqlite").string()})
    EXPECT_TRUE(LockedFileRegistry::Holds(name)) << name;
  EXPECT_FALSE(LockedFileRegistry::Holds(other));
  EXPECT_FALSE(LockedFileRegistry::Holds(dir.File("missing")));

  // Refused before it is opened: not even an open that would truncate it goes through.
  FileHandle handle;
  EXPECT_EQ(handle.Open(dir.File("copy.pdf"), O_RDWR | O_TRUNC), kAccessDenied);
  EXPECT_FALSE(handle.IsOpen());
  EXPECT_NE(LastError().text.find("in use as the program's table"), std::string::npos)
      << LastError().text;
  EXPECT_EQ(Contents(table), "table bytes");
  EXPECT_EQ(handle.Open(other, O_RDONLY), kNoError);
  handle.Close();

  LockedFileRegistry::Remove(first);
  EXPECT_TRUE(LockedFileRegistry::Holds(wal));  // the second connection still has it
  LockedFileRegistry::Remove(second);
  EXPECT_FALSE(LockedFileRegistry::Holds(table));
  EXPECT_FALSE(LockedFileRegistry::Holds(wal));
  EXPECT_EQ(handle.Open(table, O_RDONLY), kNoError);
}

}  // namespace
}  // namespace rt
