// SPDX-License-Identifier: GPL-3.0-or-later
// Asked to load a file of a table this process has open, the engine refuses without opening
// it: closing any descriptor of the file would drop the process's locks on the table, and
// another process would then take the table for its own alone.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/pdf/PdfEngine.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "store/StoreTestTable.h"
#include "support/TempDir.h"

namespace {

using ::testing::HasSubstr;

// True when another process finds a record lock anywhere in the file.
bool LockedForOthers(const std::string& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(path.c_str(), O_RDWR);
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_len = 0;  // the whole file: the table's locks sit far past its end
    _exit(fd >= 0 && ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK ? 0 : 1);
  }
  int status = 0;
  return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

TEST(PdfTableFileTest, LoadingTheOpenTableKeepsTheProcessLocks) {
  testing_support::TempDir dir;
  ASSERT_TRUE(dir.Ok());
  auto table = storetest::MakeTable(dir.File("TESTDATA"));
  ASSERT_EQ(table->Create(), 0);
  ASSERT_EQ(table->Open(rt::kOpenReadWriteDenyNone), 0);
  const std::string file = dir.File("TESTDATA.sqlite");
  ASSERT_TRUE(LockedForOthers(file));
  ASSERT_TRUE(LockedForOthers(file + "-shm"));

  auto engine = rt::PdfEngine::Create();
  for (const std::string& name :
       {file, file + "-shm", file + "-wal", (dir.Path() / "." / "TESTDATA.sqlite").string()}) {
    const rt::PdfError error = engine->LoadFile(name);
    EXPECT_EQ(error.code, rt::kAccessDenied) << name;
    EXPECT_THAT(error.text, HasSubstr("in use as the program's table")) << name;
    EXPECT_THAT(error.text, HasSubstr(name));
    EXPECT_FALSE(engine->AppendFile(name).Ok());
  }
  EXPECT_TRUE(LockedForOthers(file));
  EXPECT_TRUE(LockedForOthers(file + "-shm"));

  // Closed, the table holds no lock: the file is then merely not a document.
  static_cast<void>(table->Close());
  EXPECT_EQ(engine->LoadFile(file).code, rt::kBadFileError);
}

}  // namespace
