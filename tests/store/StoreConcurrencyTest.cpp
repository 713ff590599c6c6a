// SPDX-License-Identifier: GPL-3.0-or-later
// Concurrent use of one table: threads and processes updating the same record under watch,
// and a process killed in the middle of its inserts.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <latch>
#include <thread>

#include "StoreTestTable.h"
#include "platform/runtime/threads/ErrorState.h"
#include "support/OtherProcess.h"

using namespace storetest;

class StoreConcurrency : public DriverSuite {
 protected:
  // Reads record `id` under watch into `f`.
  static int WatchedRead(rt::File& f, int id) {
    SetRow(f, id, "", 0);
    static_cast<void>(f.Watch());
    return f.Get(*f.Key(1));
  }
  static int Rename(rt::File& f, const std::string& name) {
    rt::WriteText(f.Layout().Field(2), f.Record(), name);
    return f.Put();
  }
  std::string StoredName(int id) {
    auto f = MakeTable(path_);
    EXPECT_EQ(f->Open(rt::kOpenReadOnlyDenyNone), 0);
    SetRow(*f, id, "", 0);
    EXPECT_EQ(f->Get(*f->Key(1)), 0);
    return Name(*f);
  }
};
ON_BOTH_DRIVERS(StoreConcurrency);

TEST_P(StoreConcurrency, SecondWatchedPutFromAnotherThreadFailsWith89) {
  {
    auto f = Opened();
    AddRow(*f, 1, "original", 1);
  }
  std::latch bothRead(2);
  std::latch firstPut(1);
  int firstResult = -1, secondResult = -1, rereadOk = -1;
  std::string reread;
  std::thread first([&] {
    auto f = MakeTable(path_);
    static_cast<void>(f->Open(rt::kOpenReadWriteDenyNone));
    WatchedRead(*f, 1);
    bothRead.arrive_and_wait();
    firstResult = Rename(*f, "first");
    firstPut.count_down();
  });
  std::thread second([&] {
    auto f = MakeTable(path_);
    static_cast<void>(f->Open(rt::kOpenReadWriteDenyNone));
    WatchedRead(*f, 1);
    bothRead.arrive_and_wait();
    firstPut.wait();
    secondResult = Rename(*f, "second");
    // Reading again under watch shows the other version and then a put succeeds.
    rereadOk = WatchedRead(*f, 1);
    reread = Name(*f);
    if (rereadOk == 0) rereadOk = Rename(*f, "second again");
  });
  first.join();
  second.join();
  EXPECT_EQ(firstResult, 0);
  EXPECT_EQ(secondResult, rt::kRecordChangedError);
  EXPECT_EQ(reread, "first");
  EXPECT_EQ(rereadOk, 0);
  EXPECT_EQ(StoredName(1), "second again");
}

TEST_P(StoreConcurrency, UnwatchedPutOverwritesAndWatchedOwnPutsSucceed) {
  auto a = Opened();
  AddRow(*a, 1, "x", 1);
  ASSERT_EQ(WatchedRead(*a, 1), 0);
  EXPECT_EQ(Rename(*a, "one"), 0);
  EXPECT_EQ(Rename(*a, "two"), 0);  // its own change does not count
  auto b = MakeTable(path_);
  ASSERT_EQ(b->Open(rt::kOpenReadWriteDenyNone), 0);
  SetRow(*b, 1, "", 0);
  ASSERT_EQ(b->Get(*b->Key(1)), 0);
  EXPECT_EQ(Rename(*b, "three"), 0);
  EXPECT_EQ(Rename(*a, "four"), rt::kRecordChangedError);
  EXPECT_EQ(StoredName(1), "three");
}

TEST_P(StoreConcurrency, SecondWatchedPutFromAnotherProcessFailsWith89) {
  {
    auto f = Opened();
    AddRow(*f, 1, "original", 1);
  }
  int toChild[2], toParent[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(toParent), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  char c = 0;
  if (pid == 0) {
    auto f = MakeTable(path_);
    int status = f->Open(rt::kOpenReadWriteDenyNone) == 0 && WatchedRead(*f, 1) == 0 ? 0 : 10;
    (void)!::write(toParent[1], "r", 1);  // read done
    (void)!::read(toChild[0], &c, 1);     // parent has put
    if (status == 0) status = Rename(*f, "child") == rt::kRecordChangedError ? 0 : 11;
    ::_exit(status);
  }
  auto f = MakeTable(path_);
  ASSERT_EQ(f->Open(rt::kOpenReadWriteDenyNone), 0);
  ASSERT_EQ(WatchedRead(*f, 1), 0);
  ASSERT_EQ(::read(toParent[0], &c, 1), 1);
  EXPECT_EQ(Rename(*f, "parent"), 0);
  ASSERT_EQ(::write(toChild[1], "p", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(StoredName(1), "parent");
}

TEST_P(StoreConcurrency, KilledWriterLeavesEveryCommittedRow) {
  { auto f = Opened(); }
  int reports[2];
  ASSERT_EQ(::pipe(reports), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(reports[0]);
    auto f = MakeTable(path_);
    if (f->Open(rt::kOpenReadWriteDenyNone) != 0) ::_exit(10);
    for (int i = 1;; ++i) {
      SetRow(*f, i, "row" + std::to_string(i), i % 5);
      static_cast<void>(
          f->SetBlobContents(1, std::string(1000 + i, static_cast<char>('a' + i % 26))));
      if (f->Add() != 0) ::_exit(11);
      if (::write(reports[1], &i, sizeof i) != sizeof i) ::_exit(12);
    }
  }
  ::close(reports[1]);
  int last = 0, n = 0;
  while (last < 150 && ::read(reports[0], &n, sizeof n) == sizeof n)
    last = n;
  ::kill(pid, SIGKILL);
  while (::read(reports[0], &n, sizeof n) == sizeof n)
    last = n;
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  ASSERT_GE(last, 150);

  auto f = MakeTable(path_);
  ASSERT_EQ(f->Open(rt::kOpenReadWriteDenyNone), 0);
  std::int64_t count = 0;
  ASSERT_EQ(f->Records(count), 0);
  EXPECT_GE(count, last);
  static_cast<void>(f->Set(*f->Key(1)));
  int expected = 1;
  std::string blob;
  while (f->Next() == 0) {
    ASSERT_EQ(Id(*f), expected);
    EXPECT_EQ(Name(*f), "row" + std::to_string(expected));
    ASSERT_EQ(f->GetBlobContents(1, blob), 0);
    EXPECT_EQ(blob, std::string(1000 + expected, static_cast<char>('a' + expected % 26)));
    ++expected;
  }
  EXPECT_GT(expected, last);
  EXPECT_EQ(AddRow(*f, 100000, "after", 1), 0);  // still writable
}

// Two processes change and delete the same records, each under watch: every write that would
// overwrite or resurrect the other's unseen change is refused (89 changed, 33 deleted), the
// refused side reads the record again and then succeeds, and nothing else is lost.
TEST_P(StoreConcurrency, TwoProcessesChangingAndDeletingTheSameRecordsReportEveryConflict) {
  { auto f = Opened(); }
  std::unique_ptr<rt::File> theirs;
  testing_support::OtherProcess other([&](std::string_view command) {
    if (!theirs) {
      theirs = MakeTable(path_);
      if (theirs->Open(rt::kOpenReadWriteDenyNone) != 0) return false;
    }
    const int id = std::atoi(std::string(command.substr(2)).c_str());
    if (command[0] == 'r') return WatchedRead(*theirs, id) == 0;
    if (command[0] == 'w') return Rename(*theirs, "theirs") == 0;
    if (command[0] == 'd') return theirs->Delete() == 0;
    return false;
  });
  ASSERT_TRUE(other.Started());
  auto f = MakeTable(path_);
  ASSERT_EQ(f->Open(rt::kOpenReadWriteDenyNone), 0);
  for (int id = 1; id <= 12; ++id)
    ASSERT_EQ(AddRow(*f, id, "original", 1), 0);
  for (int id = 1; id <= 12; ++id) {
    const std::string n = std::to_string(id);
    ASSERT_EQ(WatchedRead(*f, id), 0);
    ASSERT_TRUE(other.Do("r " + n));
    switch (id % 3) {
      case 0:  // they change first: ours is refused, read again, then written
        ASSERT_TRUE(other.Do("w " + n));
        EXPECT_EQ(Rename(*f, "ours"), rt::kRecordChangedError) << id;
        ASSERT_EQ(WatchedRead(*f, id), 0);
        EXPECT_EQ(Name(*f), "theirs");
        EXPECT_EQ(Rename(*f, "ours"), 0) << id;
        break;
      case 1:  // we change first: theirs is refused
        EXPECT_EQ(Rename(*f, "ours"), 0) << id;
        EXPECT_FALSE(other.Do("w " + n)) << id;
        EXPECT_FALSE(other.Do("d " + n)) << id;
        break;
      case 2:  // they delete first: our change finds it gone
        ASSERT_TRUE(other.Do("d " + n));
        EXPECT_EQ(Rename(*f, "ours"), rt::kNoRecordError) << id;
        EXPECT_EQ(WatchedRead(*f, id), rt::kRecordNotFoundError) << id;
        break;
    }
  }
  std::int64_t count = 0;
  ASSERT_EQ(f->Records(count), 0);
  EXPECT_EQ(count, 8);
  for (int id = 1; id <= 12; ++id) {
    if (id % 3 != 2) {
      EXPECT_EQ(StoredName(id), "ours") << id;
    }
  }
}
