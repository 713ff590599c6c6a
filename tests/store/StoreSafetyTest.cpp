// SPDX-License-Identifier: GPL-3.0-or-later
// Data safety of STORE tables: failed transactions, racing creators, damaged files, special
// files, read-only folders and statements left open.

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <latch>
#include <mutex>
#include <random>
#include <thread>

#include "StoreTestTable.h"
#include "platform/runtime/files/FileTransaction.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/ChunkChecksum.h"

namespace {

using storetest::DriverSuite;
using storetest::MakeTable;
using storetest::StoreFixture;

// A file system that fills up on demand: while set, every write to a log (-wal) file fails as
// a full disk would, which makes a commit fail after its statements succeeded.
std::atomic<bool> gDiskFull{false};
sqlite3_vfs* gRealVfs = nullptr;
sqlite3_vfs gFullVfs;
const sqlite3_io_methods* gRealMethods = nullptr;
sqlite3_io_methods gFullMethods;

int FullWrite(sqlite3_file* f, const void* data, int n, sqlite3_int64 offset) {
  if (gDiskFull) return SQLITE_FULL;
  return gRealMethods->xWrite(f, data, n, offset);
}

int FullOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
  const int rc = gRealVfs->xOpen(gRealVfs, name, f, flags, outFlags);
  if (rc == SQLITE_OK && (flags & SQLITE_OPEN_WAL) && f->pMethods) {
    static std::once_flag once;
    std::call_once(once, [&] {
      gRealMethods = f->pMethods;
      gFullMethods = *f->pMethods;
      gFullMethods.xWrite = FullWrite;
    });
    if (f->pMethods == gRealMethods) f->pMethods = &gFullMethods;
  }
  return rc;
}

void InstallFillableDisk() {
  static std::once_flag once;
  std::call_once(once, [] {
    gRealVfs = sqlite3_vfs_find(nullptr);
    gFullVfs = *gRealVfs;
    gFullVfs.zName = "fillable";
    gFullVfs.xOpen = FullOpen;
    sqlite3_vfs_register(&gFullVfs, 1);
  });
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s)
    c = static_cast<char>(random());
  return s;
}

std::uint64_t Hash(const std::string& s) {
  return rt::ChunkChecksum(s.data(), s.size());
}

void Sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
      << sql << ": " << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
}

class StoreSafety : public StoreFixture {
 protected:
  // Reads every record in file order with its BLOB; the first failure's code, else 0.
  static int ReadEverything(rt::File& f) {
    if (int e = f.Set()) return e;
    for (;;) {
      const int e = f.Next();
      if (e == rt::kNoRecordError) return 0;
      if (e) return e;
      std::string blob;
      if (int b = f.GetBlobContents(1, blob)) return b;
    }
  }
};

// A transaction that fails (its commit hits a full disk, or it is rolled back) leaves the
// driver as it was, so the user's retry writes the new name and the new BLOB, watched or not.
TEST_F(StoreSafety, RetryAfterFailedTransactionStoresTheNewDocument) {
  InstallFillableDisk();
  const std::string oldDoc = RandomBytes(300000, 1), newDoc = RandomBytes(310000, 2);
  for (const bool commitFails : {true, false}) {
    for (const bool watch : {false, true}) {
      SCOPED_TRACE(std::string(commitFails ? "commit fails" : "rollback") +
                   (watch ? ", watched" : ""));
      path_ = dir_ + "/T" + std::to_string(commitFails) + std::to_string(watch);
      auto f = Opened();
      ASSERT_EQ(f->SetTransactionMember(true), 0);
      SetRow(*f, 1, "old.pdf", 0);
      ASSERT_EQ(f->SetBlobContents(1, oldDoc), 0);
      ASSERT_EQ(f->Add(), 0);
      ASSERT_EQ(f->Set(*f->Key(1)), 0);
      if (watch) {
        ASSERT_EQ(f->Watch(), 0);
      }
      ASSERT_EQ(f->Next(), 0);
      SetRow(*f, 1, "new.pdf", 0);
      ASSERT_EQ(f->SetBlobContents(1, newDoc), 0);

      ASSERT_EQ(rt::StartTransaction(1), 0);
      ASSERT_EQ(f->Put(), 0);
      if (commitFails) {
        gDiskFull = true;
        EXPECT_NE(rt::CommitTransaction(), 0);
        gDiskFull = false;
      } else {
        ASSERT_EQ(rt::RollbackTransaction(), 0);
      }
      ASSERT_EQ(rt::StartTransaction(1), 0);
      EXPECT_EQ(f->Put(), 0);
      ASSERT_EQ(rt::CommitTransaction(), 0);
      f.reset();

      auto g = Opened();
      SetRow(*g, 1, "", 0);
      ASSERT_EQ(g->Get(*g->Key(1)), 0);
      EXPECT_EQ(Name(*g), "new.pdf");
      std::string stored;
      ASSERT_EQ(g->GetBlobContents(1, stored), 0);
      EXPECT_EQ(Hash(stored), Hash(newDoc));
    }
  }
}

// Two threads or two processes opening a missing table at once both end up on one table that
// holds both their rows.
class TableCreation : public DriverSuite {};
ON_BOTH_DRIVERS(TableCreation);
TEST_P(TableCreation, SimultaneousFirstOpensShareOneTable) {
  auto openAndAdd = [this](const std::string& path, int id) {
    auto f = MakeTable(path);
    int e = f->Open(rt::kOpenReadWriteDenyNone);
    if (e == rt::kNoFileError) {
      if (f->Create() != 0) return 1;
      e = f->Open(rt::kOpenReadWriteDenyNone);
    }
    if (e != 0) return 2;
    return AddRow(*f, id, "row", 0) == 0 ? 0 : 3;
  };
  auto rows = [this](const std::string& path) {
    auto f = MakeTable(path);
    std::int64_t n = -1;
    if (f->Open(rt::kOpenReadOnlyDenyNone) == 0) static_cast<void>(f->Records(n));
    return n;
  };
  // Each table made on the server costs its schema's statements: fewer rounds there.
  const int rounds = OnServer() ? 10 : 50;
  for (int round = 0; round < rounds; ++round) {
    const std::string path = dir_ + "/threads" + std::to_string(round);
    std::latch start(2);
    int results[2] = {-1, -1};
    std::thread other([&] {
      start.arrive_and_wait();
      results[1] = openAndAdd(path, 2);
    });
    start.arrive_and_wait();
    results[0] = openAndAdd(path, 1);
    other.join();
    ASSERT_EQ(results[0], 0) << "round " << round;
    ASSERT_EQ(results[1], 0) << "round " << round;
    ASSERT_EQ(rows(path), 2) << "round " << round;
  }
  for (int round = 0; round < rounds; ++round) {
    const std::string path = dir_ + "/processes" + std::to_string(round);
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      char c;
      ::close(go[1]);
      const bool started = ::read(go[0], &c, 1) == 1;
      ::_exit(started ? openAndAdd(path, 2) : 9);
    }
    ::close(go[0]);
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    ::close(go[1]);
    const int mine = openAndAdd(path, 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(mine, 0) << "round " << round;
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
    ASSERT_EQ(rows(path), 2) << "round " << round;
  }
  // Nothing but the tables is left behind.
  if (OnServer()) return;
  for (const auto& entry : std::filesystem::directory_iterator(dir_))
    EXPECT_EQ(entry.path().string().find(".new-"), std::string::npos) << entry.path();
}

// Numbers out of range in a copy of a real table are reported as damage naming the record,
// whether met while reading the record, reading its BLOB or changing its BLOB.
TEST_F(StoreSafety, DamagedNumbersAreReportedNamingTheRecord) {
  {
    auto f = Opened();
    for (int id = 1; id <= 3; ++id) {
      SetRow(*f, id, "doc", 0);
      ASSERT_EQ(f->SetBlobContents(1, RandomBytes(600000, id)), 0);
      ASSERT_EQ(f->Add(), 0);
    }
  }
  const char* damages[] = {
      "UPDATE blob_chunks SET chunk = -1 WHERE rid = 2 AND chunk = 0",
      "UPDATE blob_chunks SET chunk = 1000000 WHERE rid = 2 AND chunk = 2",
      "DELETE FROM blob_chunks WHERE rid = 2 AND chunk = 1",
      "UPDATE records SET _bsize1 = -5 WHERE _rid = 2",
      "UPDATE records SET _bsize1 = 9000000000000000000 WHERE _rid = 2",
      "UPDATE records SET _bsize1 = _bsize1 + 100 WHERE _rid = 2",
      "UPDATE records SET ID = 100000000000 WHERE _rid = 2",
      "UPDATE records SET _ver = 'x' WHERE _rid = 2",
  };
  int n = 0;
  for (const char* damage : damages) {
    SCOPED_TRACE(damage);
    const std::string copy = dir_ + "/copy" + std::to_string(++n);
    std::filesystem::copy_file(path_ + ".sqlite", copy + ".sqlite");
    Sql(copy + ".sqlite", damage);
    auto f = MakeTable(copy);
    ASSERT_EQ(f->Open(rt::kOpenReadWriteDenyNone), 0);
    EXPECT_EQ(ReadEverything(*f), rt::kBadFileError);
    EXPECT_NE(rt::FileErrorText().find("record 2"), std::string::npos) << rt::FileErrorText();
    // Loading the stored BLOB to change it meets the same damage.
    ASSERT_EQ(f->GetByPointer(1), 0);
    if (f->GetByPointer(2) == 0) {
      EXPECT_EQ(f->WriteBlob(1, 0, "x", 1), rt::kBadFileError);
    }
  }
}

// A column another program set to NULL reads as a cleared field: blanks for text, zero for a
// number, with the rest of the row intact.
TEST_F(StoreSafety, NullColumnsReadAsClearedFields) {
  {
    auto f = Opened();
    ASSERT_EQ(AddRow(*f, 1, "one.pdf", 5), 0);
    ASSERT_EQ(AddRow(*f, 2, "two.pdf", 6), 0);
  }
  Sql(path_ + ".sqlite", "UPDATE records SET Name = NULL, Grp = NULL WHERE ID = 1");
  auto f = Opened();
  ASSERT_EQ(f->Set(*f->Key(1)), 0);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(Id(*f), 1);
  EXPECT_EQ(rt::ReadText(f->Layout().Field(2), f->Record()), std::string(20, ' '));
  EXPECT_EQ(rt::ReadInteger(f->Layout().Field(3), f->Record()), 0);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(Name(*f), "two.pdf");
  EXPECT_EQ(rt::ReadInteger(f->Layout().Field(3), f->Record()), 6);
}

// Bit flips inside stored documents are reported, never returned as good bytes; tables made
// before chunks carried checksums still read and write.
TEST_F(StoreSafety, DamagedDocumentsAreNeverReturnedAsGood) {
  std::vector<std::string> docs;
  {
    auto f = Opened();
    for (int id = 1; id <= 40; ++id) {
      docs.push_back(RandomBytes(20000 + 997 * id, 100 + id));
      SetRow(*f, id, "doc", 0);
      ASSERT_EQ(f->SetBlobContents(1, docs.back()), 0);
      ASSERT_EQ(f->Add(), 0);
    }
  }
  std::string bytes;
  {
    std::ifstream in(path_ + ".sqlite", std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  // Flip one bit in each document where 32 of its bytes lie together in a page.
  for (std::size_t i = 0; i < docs.size(); ++i) {
    auto at = std::string::npos;
    for (std::size_t from = 5000; at == std::string::npos && from < 15000; from += 100)
      at = bytes.find(docs[i].substr(from, 32));
    ASSERT_NE(at, std::string::npos);
    bytes[at + i % 32] ^= static_cast<char>(1 << (i % 8));
  }
  std::ofstream(path_ + ".sqlite", std::ios::binary | std::ios::trunc) << bytes;

  auto f = Opened();
  for (int id = 1; id <= 40; ++id) {
    SetRow(*f, id, "", 0);
    ASSERT_EQ(f->Get(*f->Key(1)), 0);
    std::string stored;
    EXPECT_EQ(f->GetBlobContents(1, stored), rt::kBadFileError) << "record " << id;
    EXPECT_NE(rt::FileErrorText().find("checksum"), std::string::npos);
  }
  f.reset();

  // A table of the first format: no checksum column.
  const std::string old = dir_ + "/OLD";
  {
    auto o = MakeTable(old);
    ASSERT_EQ(o->Create(), 0);
  }
  Sql(old + ".sqlite",
      "ALTER TABLE blob_chunks DROP COLUMN sum; UPDATE store_meta SET value = '1' WHERE name = "
      "'format'");
  auto o = MakeTable(old);
  ASSERT_EQ(o->Open(rt::kOpenReadWriteDenyNone), 0);
  SetRow(*o, 1, "doc", 0);
  ASSERT_EQ(o->SetBlobContents(1, docs[0]), 0);
  ASSERT_EQ(o->Add(), 0);
  std::string stored;
  ASSERT_EQ(o->GetByPointer(1), 0);
  ASSERT_EQ(o->GetBlobContents(1, stored), 0);
  EXPECT_EQ(stored, docs[0]);
}

// Pipes and folders in place of a table are refused at once instead of blocking the open.
TEST_F(StoreSafety, OnlyRegularFilesAreOpened) {
  ASSERT_EQ(::mkfifo((path_ + ".sqlite").c_str(), 0644), 0);
  auto f = MakeTable(path_);
  EXPECT_EQ(f->Open(rt::kOpenReadOnlyDenyNone), rt::kBadFileError);
  EXPECT_NE(rt::FileErrorText().find("not a regular file"), std::string::npos);
  EXPECT_EQ(f->Open(rt::kOpenReadWriteDenyNone), rt::kBadFileError);
  EXPECT_EQ(f->Create(), rt::kBadFileError);
  std::filesystem::remove(path_ + ".sqlite");
  std::filesystem::create_directory(path_ + ".sqlite");
  EXPECT_EQ(f->Open(rt::kOpenReadOnlyDenyNone), rt::kBadFileError);
}

// In a read-only folder a table whose recent commits are still in its log either shows them
// all or fails clearly, never an older state. Root ignores folder permissions, so the reader
// runs in a child process as an unprivileged user.
TEST_F(StoreSafety, ReadOnlyFolderNeverShowsAnOlderState) {
  auto writer = Opened();
  for (int id = 1; id <= 6; ++id)
    ASSERT_EQ(AddRow(*writer, id, "row", 0), 0);
  const std::string ro = dir_ + "/ro";
  std::filesystem::create_directory(ro);
  for (const char* suffix : {".sqlite", ".sqlite-wal"})
    std::filesystem::copy_file(path_ + suffix, ro + "/TESTDATA" + suffix);
  ASSERT_GT(std::filesystem::file_size(ro + "/TESTDATA.sqlite-wal"), 0u);
  writer.reset();

  // Child exit status: the number of rows seen, or 100 + the open's error code.
  auto readInChild = [&](const std::string& path) {
    const pid_t child = ::fork();
    if (child == 0) {
      if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
      auto f = MakeTable(path);
      const int e = f->Open(rt::kOpenReadOnlyDenyNone);
      if (e) ::_exit(100 + e);
      std::int64_t n = 0;
      ::_exit(f->Records(n) == 0 ? static_cast<int>(n) : 98);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  std::filesystem::permissions(
      ro, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
              std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
              std::filesystem::perms::others_exec);
  ::chmod((ro + "/TESTDATA.sqlite").c_str(), 0644);
  ::chmod((ro + "/TESTDATA.sqlite-wal").c_str(), 0644);
  ::chmod(dir_.c_str(), 0755);
  const int seen = readInChild(ro + "/TESTDATA");
  if (seen == 99) GTEST_SKIP() << "cannot switch to an unprivileged user";
  EXPECT_TRUE(seen == 6 || seen == 100 + rt::kAccessDenied) << seen;

  // Once the log is merged into the table, the read-only folder shows every row.
  std::filesystem::remove(ro + "/TESTDATA.sqlite-wal");
  std::filesystem::remove(ro + "/TESTDATA.sqlite");
  std::filesystem::copy_file(path_ + ".sqlite", ro + "/TESTDATA.sqlite");
  ::chmod((ro + "/TESTDATA.sqlite").c_str(), 0644);
  EXPECT_EQ(readInChild(ro + "/TESTDATA"), 6);
}

// No statement keeps a read transaction open after its call: a handle sees other handles'
// commits, and a watched put against a newer record is reported as changed (89).
TEST_F(StoreSafety, StatementsLeaveNoReadTransactionOpen) {
  auto a = Opened();
  auto b = Opened();
  ASSERT_EQ(AddRow(*a, 1, "one", 0), 0);
  std::int64_t n = 0;
  ASSERT_EQ(a->Records(n), 0);
  ASSERT_EQ(AddRow(*b, 2, "two", 0), 0);
  ASSERT_EQ(a->Set(*a->Key(1)), 0);
  EXPECT_EQ(ReadAll(*a), (std::vector<int>{1, 2}));

  ASSERT_EQ(a->Set(*a->Key(1)), 0);
  ASSERT_EQ(a->Watch(), 0);
  ASSERT_EQ(a->Next(), 0);
  ASSERT_EQ(a->Records(n), 0);
  SetRow(*b, 1, "", 0);
  ASSERT_EQ(b->Get(*b->Key(1)), 0);
  ASSERT_EQ(b->Put(), 0);
  EXPECT_EQ(a->Put(), rt::kRecordChangedError);
}

}  // namespace
