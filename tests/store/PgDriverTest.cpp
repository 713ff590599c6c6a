// SPDX-License-Identifier: GPL-3.0-or-later
// What only a table on a server meets: a server missing, unreachable, refusing or never
// answering; replies no driver wrote; the server going away in the middle of a transaction or a
// BLOB write; other clients' changes announced to a watcher; a row another client holds
// locked; a long session's prepared statements.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "StoreTestTable.h"
#include "platform/pgstore/PgConnection.h"
#include "platform/pgstore/PgDriver.h"
#include "platform/pgstore/PgListener.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/Threads.h"
#include "support/SilentServer.h"
#include "support/Watchdog.h"

using namespace storetest;

namespace {

class PgDriverTest : public DriverSuite {
 protected:
  // The thread's error, code and texts, for checks on what a failure says.
  static std::string ErrorText() {
    const rt::ErrorState& e = rt::LastError();
    return e.text + " | " + e.driverCode + " | " + e.driverText;
  }
  int Grp(const rt::File& f) {
    return static_cast<int>(rt::ReadInteger(f.Layout().Field(3), f.Record()));
  }
  int Read(rt::File& f, int id) {
    SetRow(f, id, "", 0);
    return f.Get(*f.Key(1));
  }
};
INSTANTIATE_TEST_SUITE_P(Server, PgDriverTest, ::testing::Values(rt::kPgDriverName), DriverName);

TEST_P(PgDriverTest, MissingUnreachableAndRefusedServersAndForeignTables) {
  const std::string good = server_->Conninfo();
  // No server at the address: as a missing file, for open and create alike.
  rt::RegisterPgDriver("host=/nonexistent/folder user=pgtest dbname=nowhere password=sekrit7");
  auto f = MakeTable(path_);
  EXPECT_EQ(f->Open(rt::kOpenReadWriteDenyNone), rt::kNoFileError);
  EXPECT_EQ(ErrorText().find("sekrit7"), std::string::npos) << ErrorText();
  EXPECT_NE(ErrorText().find("connect"), std::string::npos) << ErrorText();
  EXPECT_EQ(f->Create(), rt::kNoFileError);
  EXPECT_EQ(ErrorText().find("sekrit7"), std::string::npos) << ErrorText();
  // A user the server does not know: refused, as a file without permission.
  rt::RegisterPgDriver(good + " user=stranger password=sekrit7");
  EXPECT_EQ(f->Open(rt::kOpenReadWriteDenyNone), rt::kAccessDenied);
  EXPECT_EQ(ErrorText().find("sekrit7"), std::string::npos) << ErrorText();
  // The right server without the table: missing until created; a table of another program
  // is not one of ours.
  rt::RegisterPgDriver(good);
  EXPECT_EQ(f->Open(rt::kOpenReadWriteDenyNone), rt::kNoFileError);
  ASSERT_EQ(f->Create(), 0);
  ASSERT_EQ(f->Open(rt::kOpenReadWriteDenyNone), 0);
  EXPECT_TRUE(f->SqlDriver());
  ASSERT_TRUE(server_->Exec("CREATE TABLE \"OTHER\" (x int)"));
  auto other = MakeTable(dir_ + "/OTHER");
  EXPECT_EQ(other->Open(rt::kOpenReadWriteDenyNone), rt::kBadFileError);
  EXPECT_EQ(other->Create(), 0);  // kept as it is
  EXPECT_EQ(other->Open(rt::kOpenReadWriteDenyNone), rt::kBadFileError);
}

// A server that takes the connection and never answers: opening gives up at the connect's
// bound as an unreachable server, and a connect under way ends when the program closes or the
// listener stops, even without a bound.
TEST_P(PgDriverTest, ServerThatNeverAnswersIsGivenUp) {
  testing_support::Watchdog watchdog("a server that never answers");
  testing_support::SilentServer silent;
  ASSERT_TRUE(silent.Listening());
  const std::string conninfo = silent.Conninfo() + " user=pgtest dbname=nowhere password=sekrit7";
  rt::RegisterPgDriver(conninfo + " connect_timeout=2");
  auto f = MakeTable(path_);
  EXPECT_EQ(f->Open(rt::kOpenReadWriteDenyNone), rt::kNoFileError);
  EXPECT_NE(ErrorText().find("failed: timeout expired"), std::string::npos) << ErrorText();
  EXPECT_EQ(ErrorText().find("sekrit7"), std::string::npos) << ErrorText();
  // Creating it next (as the file manager does) does not wait for the server again.
  EXPECT_EQ(f->Create(), rt::kNoFileError);
  EXPECT_NE(ErrorText().find("failed: timeout expired"), std::string::npos) << ErrorText();
  ASSERT_TRUE(silent.AwaitClient());

  // A browse's thread opening the table as the program closes.
  rt::RegisterPgDriver(conninfo + " connect_timeout=0");
  std::atomic<int> opened{-1};
  std::string text;
  rt::RunProgram([&] {
    rt::Start([&](const std::vector<std::string>&) {
      auto table = MakeTable(path_);
      opened = table->Open(rt::kOpenReadWriteDenyNone);
      text = ErrorText();
    });
    ASSERT_TRUE(silent.AwaitClient());
  });
  EXPECT_EQ(opened, rt::kNoFileError);
  EXPECT_NE(text.find("failed: given up"), std::string::npos) << text;
  EXPECT_EQ(text.find("sekrit7"), std::string::npos) << text;

  // The listener stopped while connecting for a watch (its subscription waited a few
  // seconds for the channel, then returned).
  {
    rt::PgListener listener(conninfo + " connect_timeout=0");
    listener.Subscribe("\"TESTDATA\"", nullptr, [] {});
    ASSERT_TRUE(silent.AwaitClient());
  }
  rt::RegisterPgDriver(server_->Conninfo());
}

// Values the driver never wrote are refused as damage naming the record, never shown.
TEST_P(PgDriverTest, HostileRepliesAreRefusedWith47) {
  auto f = Opened();
  for (int id = 1; id <= 4; ++id) {
    SetRow(*f, id, "row", 1);
    ASSERT_EQ(f->SetBlobContents(1, std::string(300000, static_cast<char>('a' + id))), 0);
    ASSERT_EQ(f->Add(), 0);
  }
  ASSERT_TRUE(server_->Exec("UPDATE \"TESTDATA\" SET \"Grp\" = 100000 WHERE \"ID\" = 1"));
  ASSERT_TRUE(server_->Exec("UPDATE \"TESTDATA\" SET \"Name\" = repeat('x', 21) WHERE \"ID\" = 2"));
  ASSERT_TRUE(server_->Exec(
      "UPDATE \"TESTDATA$chunks\" SET sum = sum + 1 WHERE chunk = 1 AND rid = (SELECT _rid "
      "FROM \"TESTDATA\" WHERE \"ID\" = 3)"));
  EXPECT_EQ(Read(*f, 1), rt::kBadFileError);
  EXPECT_NE(ErrorText().find("out of range"), std::string::npos) << ErrorText();
  EXPECT_EQ(Read(*f, 2), rt::kBadFileError);
  ASSERT_EQ(Read(*f, 3), 0);
  std::string blob;
  EXPECT_EQ(f->GetBlobContents(1, blob), rt::kBadFileError);
  EXPECT_NE(ErrorText().find("checksum"), std::string::npos) << ErrorText();
  ASSERT_EQ(Read(*f, 4), 0);
  EXPECT_EQ(Grp(*f), 1);
  // No NULL that reads in key order could not continue from: refused, or a blank value for a
  // column another program's insert leaves out.
  EXPECT_FALSE(server_->Exec("UPDATE \"TESTDATA\" SET \"ID\" = NULL WHERE \"ID\" = 4"));
  ASSERT_TRUE(server_->Exec("INSERT INTO \"TESTDATA\" (\"Name\") VALUES ('foreign')"));
  ASSERT_EQ(Read(*f, 0), 0);
  EXPECT_EQ(Name(*f), "foreign");
  EXPECT_EQ(Grp(*f), 0);
  // A column's type changed behind the driver's back: every read of it is refused.
  ASSERT_TRUE(server_->Exec("ALTER TABLE \"TESTDATA\" ALTER COLUMN \"Grp\" TYPE text"));
  EXPECT_EQ(Read(*f, 4), rt::kBadFileError);
  EXPECT_NE(ErrorText().find("another type"), std::string::npos) << ErrorText();
  ASSERT_EQ(f->Close(), 0);
  EXPECT_EQ(f->Open(rt::kOpenReadWriteDenyNone), rt::kBadFileError);
}

// The server going away: the operation it interrupts fails clearly, nothing half-made
// stays, and the next operation connects again.
TEST_P(PgDriverTest, ServerLostDuringATransactionOrABlobWrite) {
  testing_support::PgServer own;
  std::string why;
  ASSERT_TRUE(own.Start(&why)) << why;
  ASSERT_TRUE(own.MakeDatabase(&why)) << why;
  rt::RegisterPgDriver(own.Conninfo());
  auto f = Opened();
  const std::string original(3 * 262144 + 5, 'o');
  SetRow(*f, 1, "first", 1);
  ASSERT_EQ(f->SetBlobContents(1, original), 0);
  ASSERT_EQ(f->Add(), 0);

  ASSERT_EQ(f->StartTransaction(5), 0);
  ASSERT_EQ(AddRow(*f, 2, "second", 1), 0);
  ASSERT_TRUE(own.Stop());
  EXPECT_EQ(AddRow(*f, 3, "third", 1), rt::kFileSystemError);
  EXPECT_NE(ErrorText().find("connection"), std::string::npos) << ErrorText();
  EXPECT_NE(f->Commit(), 0);
  ASSERT_TRUE(own.Start(&why)) << why;
  std::int64_t count = 0;
  ASSERT_EQ(f->Records(count), 0);
  EXPECT_EQ(count, 1);

  // The serving process ends between two chunks of a BLOB write.
  ASSERT_TRUE(own.Exec(
      "CREATE FUNCTION cut() RETURNS trigger AS $$ BEGIN IF NEW.chunk = 2 THEN PERFORM "
      "pg_terminate_backend(pg_backend_pid()); END IF; RETURN NEW; END $$ LANGUAGE plpgsql; "
      "CREATE TRIGGER cut BEFORE INSERT ON \"TESTDATA$chunks\" FOR EACH ROW EXECUTE FUNCTION "
      "cut()"));
  ASSERT_EQ(Read(*f, 1), 0);
  ASSERT_EQ(f->SetBlobContents(1, std::string(4 * 262144, 'n')), 0);
  rt::WriteText(f->Layout().Field(2), f->Record(), "changed");
  EXPECT_EQ(f->Put(), rt::kFileSystemError);
  EXPECT_NE(ErrorText().find("connection"), std::string::npos) << ErrorText();
  ASSERT_TRUE(own.Exec("DROP TRIGGER cut ON \"TESTDATA$chunks\""));
  ASSERT_EQ(Read(*f, 1), 0);
  EXPECT_EQ(Name(*f), "first");
  std::string blob;
  ASSERT_EQ(f->GetBlobContents(1, blob), 0);
  EXPECT_EQ(blob, original);
  ASSERT_EQ(f->Close(), 0);
  rt::RegisterPgDriver(server_->Conninfo());
}

// Another client's insert, change and delete reach a watcher, and so do another program's;
// the watching client's own writes do not, and none arrive once the watch is gone.
TEST_P(PgDriverTest, OtherClientsChangesAreAnnounced) {
  auto mine = MakeTable(path_);
  ASSERT_EQ(mine->Create(), 0);
  rt::PgDriver driver(*mine, server_->Conninfo());
  ASSERT_EQ(driver.Open(rt::kOpenReadWriteDenyNone), 0);
  std::mutex mutex;
  std::condition_variable heard;
  int calls = 0;
  auto wait = [&](int atLeast) {
    std::unique_lock lock(mutex);
    return heard.wait_for(lock, std::chrono::seconds(10), [&] { return calls >= atLeast; });
  };
  auto watch = driver.WatchOtherClients([&] {
    std::lock_guard lock(mutex);
    ++calls;
    heard.notify_all();
  });
  ASSERT_NE(watch, nullptr);
  auto other = Opened();
  ASSERT_EQ(AddRow(*other, 1, "one", 1), 0);
  ASSERT_TRUE(wait(1));
  SetRow(*mine, 2, "mine", 1);
  ASSERT_EQ(driver.Add(0), 0);
  rt::WriteText(other->Layout().Field(2), other->Record(), "changed");
  ASSERT_EQ(other->Put(), 0);
  ASSERT_TRUE(wait(2));
  ASSERT_EQ(other->Delete(), 0);
  ASSERT_TRUE(wait(3));
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, 3);  // the own insert between them was not announced
  }
  // Another program's statements are announced too, once per transaction; a table made
  // before it had its trigger gets it when a client opens it for writing.
  ASSERT_TRUE(
      server_->Exec("UPDATE \"TESTDATA\" SET \"Grp\" = 2; DELETE FROM \"TESTDATA\" "
                    "WHERE \"ID\" = 2"));
  ASSERT_TRUE(wait(4));
  ASSERT_TRUE(server_->Exec("DROP TRIGGER \"TESTDATA$notify\" ON \"TESTDATA\""));
  ASSERT_TRUE(server_->Exec("INSERT INTO \"TESTDATA\" (\"ID\") VALUES (7)"));
  ASSERT_EQ(other->Close(), 0);
  ASSERT_EQ(other->Open(rt::kOpenReadWriteDenyNone), 0);
  ASSERT_TRUE(server_->Exec("INSERT INTO \"TESTDATA\" (\"ID\") VALUES (8)"));
  ASSERT_TRUE(wait(5));
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, 5);  // the insert without the trigger went unheard
  }
  watch.reset();
  ASSERT_EQ(AddRow(*other, 3, "three", 1), 0);
  std::int64_t count = 0;
  ASSERT_EQ(driver.Records(count), 0);
  EXPECT_EQ(count, 3);
  std::lock_guard lock(mutex);
  EXPECT_EQ(calls, 5);
}

// A write waits for a row another client holds locked as long as the RECOVER option says,
// then fails saying why instead of holding its thread; once the lock goes, it succeeds.
TEST_P(PgDriverTest, RowLockedByAnotherClientIsWaitedForThenGivenUp) {
  testing_support::Watchdog watchdog("a write behind another client's lock");
  auto holder = Opened();
  ASSERT_EQ(AddRow(*holder, 1, "one", 1), 0);
  auto waiter = Opened();
  ASSERT_EQ(waiter->Send("RECOVER=1"), 0);
  ASSERT_EQ(Read(*waiter, 1), 0);
  ASSERT_EQ(holder->StartTransaction(30), 0);
  ASSERT_EQ(Read(*holder, 1), 0);
  rt::WriteText(holder->Layout().Field(2), holder->Record(), "held");
  ASSERT_EQ(holder->Put(), 0);

  const auto start = std::chrono::steady_clock::now();
  rt::WriteText(waiter->Layout().Field(2), waiter->Record(), "waited");
  EXPECT_NE(waiter->Put(), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_NE(ErrorText().find("lock"), std::string::npos) << ErrorText();
  ASSERT_EQ(holder->Rollback(), 0);
  ASSERT_EQ(Read(*waiter, 1), 0);
  rt::WriteText(waiter->Layout().Field(2), waiter->Record(), "waited");
  ASSERT_EQ(waiter->Put(), 0);
  ASSERT_EQ(Read(*holder, 1), 0);
  EXPECT_EQ(Name(*holder), "waited");
}

// A session of ever new statements (a new filter shape each) keeps a bounded number prepared
// on the server; a statement dropped from the cache runs again, and drops a failed
// transaction held up are made after it.
TEST_P(PgDriverTest, PreparedStatementsStayBoundedOverALongSession) {
  rt::PgConnection conn(server_->Conninfo());
  auto run = [&](int n, std::int64_t* value = nullptr) {
    rt::PgParams p;
    p.Int(n);
    rt::PgResult r;
    const int e = conn.Run("SELECT $1::int8 + " + std::to_string(n), p, r, "test");
    if (e == 0 && value) {
      EXPECT_TRUE(r.Int(0, 0, *value));
    }
    return e;
  };
  auto preparedOnServer = [&] {
    rt::PgResult r;
    EXPECT_EQ(conn.Run("SELECT count(*) FROM pg_prepared_statements", rt::PgParams(), r, "test"),
              0);
    std::int64_t count = -1;
    EXPECT_TRUE(r.Int(0, 0, count));
    return count;
  };
  constexpr int kStatements = 500;
  for (int n = 1; n <= kStatements; ++n)
    ASSERT_EQ(run(n), 0);
  const std::int64_t bounded = preparedOnServer();
  EXPECT_GT(bounded, 10);
  EXPECT_LT(bounded, kStatements / 2);
  std::int64_t value = 0;
  ASSERT_EQ(run(1, &value), 0);
  EXPECT_EQ(value, 2);

  ASSERT_EQ(conn.Exec("BEGIN", "test"), 0);
  EXPECT_NE(conn.Exec("SELECT 1/0", "test"), 0);
  EXPECT_NE(run(kStatements + 1), 0);  // the transaction failed: nothing runs in it
  ASSERT_EQ(conn.Exec("ROLLBACK", "test"), 0);
  for (int n = kStatements + 2; n <= kStatements + 50; ++n)
    ASSERT_EQ(run(n), 0);
  EXPECT_LE(preparedOnServer(), bounded);
  ASSERT_EQ(run(kStatements + 1, &value), 0);
  EXPECT_EQ(value, 2 * (kStatements + 1));
}

}  // namespace
