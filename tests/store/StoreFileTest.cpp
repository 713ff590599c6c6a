// SPDX-License-Identifier: GPL-3.0-or-later
// The STORE driver through the runtime File API on real files.

#include <sqlite3.h>
#include <sys/stat.h>

#include <fstream>

#include "StoreTestTable.h"
#include "platform/runtime/files/FilePosition.h"
#include "platform/runtime/files/FileTransaction.h"
#include "platform/runtime/threads/ErrorState.h"

using namespace storetest;

class StoreFile : public DriverSuite {};
ON_BOTH_DRIVERS(StoreFile);
// What only a table in a local file has: its file on disk and the file's permissions.
class StoreFileOnDisk : public StoreFixture {};

TEST_P(StoreFile, CreatedTableKeepsRecordsAcrossReopen) {
  auto f = Opened();
  EXPECT_EQ(f->PhysicalName(), OnServer() ? path_ : path_ + ".sqlite");
  ASSERT_EQ(AddRow(*f, 1, "alpha", 1), 0);
  ASSERT_EQ(AddRow(*f, 2, "Beta", 2), 0);
  ASSERT_EQ(f->Close(), 0);

  auto g = MakeTable(path_);
  ASSERT_EQ(g->Open(rt::kOpenReadWriteDenyNone), 0);
  std::int64_t count = 0;
  EXPECT_EQ(g->Records(count), 0);
  EXPECT_EQ(count, 2);
  SetRow(*g, 2, "", 0);
  ASSERT_EQ(g->Get(*g->Key(1)), 0);
  EXPECT_EQ(Name(*g), "Beta");
  SetRow(*g, 99, "", 0);
  EXPECT_EQ(g->Get(*g->Key(1)), rt::kRecordNotFoundError);
  EXPECT_EQ(rt::ErrorCode(), rt::kRecordNotFoundError);
}

TEST_F(StoreFileOnDisk, OpenReportsMissingForeignAndRepeatedOpens) {
  auto f = MakeTable(path_);
  EXPECT_EQ(f->Open(), rt::kNoFileError);
  EXPECT_EQ(f->Next(), rt::kFileNotOpenError);

  std::ofstream(path_ + ".sqlite") << "this is not a table at all, just some text\n";
  EXPECT_EQ(f->Open(rt::kOpenReadWriteDenyNone), rt::kBadFileError);

  // A database of some other program is not a table either.
  std::filesystem::remove(path_ + ".sqlite");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((path_ + ".sqlite").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_EQ(f->Open(rt::kOpenReadWriteDenyNone), rt::kBadFileError);
  EXPECT_FALSE(f->IsOpen());

  std::filesystem::remove(path_ + ".sqlite");
  ASSERT_EQ(f->Create(), 0);
  ASSERT_EQ(f->Open(rt::kOpenReadWriteDenyNone), 0);
  EXPECT_EQ(f->Open(rt::kOpenReadWriteDenyNone), rt::kIsOpenError);
  EXPECT_EQ(f->Create(), rt::kIsOpenError);
}

TEST_P(StoreFile, ChangedKeyDefinitionNeedsBuild) {
  {
    auto f = Opened();
    AddRow(*f, 1, "a", 1);
  }
  rt::RegisterStoreDriver();
  rt::File g("TESTDATA", "TST", driver_, TestLayout());
  g.AddKey("TST:ID_Key", {{1, false, false}}, true, true);  // now descending
  g.AddBlob("TST:Data");
  g.SetName(path_);
  EXPECT_EQ(g.Open(rt::kOpenReadWriteDenyNone), rt::kInvalidKeyError);
  ASSERT_EQ(g.Build(), 0);
  ASSERT_EQ(g.Open(rt::kOpenReadWriteDenyNone), 0);
  static_cast<void>(g.Set(*g.Key(1)));
  EXPECT_EQ(g.Next(), 0);
  EXPECT_EQ(Id(g), 1);
}

TEST_F(StoreFileOnDisk, ReadOnlyTableOpensReadOnlyAndRefusesWrites) {
  {
    auto f = Opened();
    AddRow(*f, 1, "a", 1);
  }
  ASSERT_EQ(::chmod((path_ + ".sqlite").c_str(), 0444), 0);
  auto f = MakeTable(path_);
  ASSERT_EQ(f->Open(rt::kOpenReadOnlyDenyNone), 0);
  EXPECT_TRUE(f->ReadOnly());
  static_cast<void>(f->Set());
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(f->Put(), rt::kAccessDenied);
  EXPECT_EQ(AddRow(*f, 2, "b", 1), rt::kAccessDenied);
  EXPECT_EQ(f->Delete(), rt::kAccessDenied);
  static_cast<void>(f->Close());
  if (::geteuid() == 0) GTEST_SKIP() << "root may write a read-only file";
  EXPECT_EQ(f->Open(rt::kOpenReadWriteDenyNone), rt::kAccessDenied);
}

TEST_P(StoreFile, ShareModesBetweenOpensOfTheProcess) {
  auto a = Opened(0x12);  // read/write, deny all
  auto b = MakeTable(path_);
  EXPECT_EQ(b->Open(rt::kOpenReadOnlyDenyNone), rt::kAccessDenied);
  static_cast<void>(a->Close());
  ASSERT_EQ(a->Open(0x22), 0);  // deny write
  EXPECT_EQ(b->Open(rt::kOpenReadWriteDenyNone), rt::kAccessDenied);
  EXPECT_EQ(b->Open(rt::kOpenReadOnlyDenyNone), 0);
}

TEST_P(StoreFile, KeyOrdersHonourDirectionCaseAndDuplicates) {
  auto f = Opened();
  AddRow(*f, 1, "delta", 1);
  AddRow(*f, 2, "Alpha", 2);
  AddRow(*f, 3, "charlie", 1);
  AddRow(*f, 4, "bravo", 2);
  AddRow(*f, 5, "ALPHA", 1);

  static_cast<void>(f->Set(*f->Key(1)));
  EXPECT_EQ(ReadAll(*f), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(rt::ErrorCode(), rt::kNoRecordError);
  static_cast<void>(f->Set(*f->Key(1)));
  EXPECT_EQ(ReadAll(*f, true), (std::vector<int>{5, 4, 3, 2, 1}));

  // Case-insensitive duplicates keep the order in which they were added.
  static_cast<void>(f->Set(*f->Key(2)));
  EXPECT_EQ(ReadAll(*f), (std::vector<int>{2, 5, 4, 3, 1}));
  // Grp descending, then Name ascending (case-sensitive: upper case first).
  static_cast<void>(f->Set(*f->Key(3)));
  EXPECT_EQ(ReadAll(*f), (std::vector<int>{2, 4, 5, 3, 1}));
  static_cast<void>(f->Set(*f->Key(3)));
  EXPECT_EQ(ReadAll(*f, true), (std::vector<int>{1, 3, 5, 4, 2}));

  // From values: next reads the first >=, previous the last <=.
  SetRow(*f, 0, "BRAVO", 0);
  static_cast<void>(f->SetFromValues(*f->Key(2)));
  EXPECT_EQ(ReadAll(*f), (std::vector<int>{4, 3, 1}));
  SetRow(*f, 0, "b", 0);
  static_cast<void>(f->SetFromValues(*f->Key(2)));
  EXPECT_EQ(ReadAll(*f, true), (std::vector<int>{5, 2}));
  SetRow(*f, 3, "", 0);
  static_cast<void>(f->SetFromValues(*f->Key(1)));
  EXPECT_EQ(ReadAll(*f), (std::vector<int>{3, 4, 5}));

  static_cast<void>(f->SetToEnd(*f->Key(1)));
  EXPECT_EQ(f->Next(), rt::kNoRecordError);
  static_cast<void>(f->SetToEnd(*f->Key(1)));
  ASSERT_EQ(f->Previous(), 0);
  EXPECT_EQ(Id(*f), 5);

  // Record order, and a change of direction in the middle.
  static_cast<void>(f->Set());
  ASSERT_EQ(f->Next(), 0);
  ASSERT_EQ(f->Next(), 0);
  ASSERT_EQ(f->Next(), 0);
  ASSERT_EQ(f->Previous(), 0);
  EXPECT_EQ(Id(*f), 2);
}

TEST_P(StoreFile, PrefetchReadsTheSameSequence) {
  auto f = Opened();
  for (int i = 1; i <= 30; ++i)
    AddRow(*f, i, "n" + std::to_string(100 - i), i % 3);
  static_cast<void>(f->Set(*f->Key(3)));
  const auto plain = ReadAll(*f);
  ASSERT_EQ(plain.size(), 30u);
  static_cast<void>(f->SetPrefetch(7));
  static_cast<void>(f->Set(*f->Key(3)));
  EXPECT_EQ(ReadAll(*f), plain);
  // A write through the file drops what was read ahead.
  static_cast<void>(f->Set(*f->Key(1)));
  ASSERT_EQ(f->Next(), 0);
  ASSERT_EQ(f->Next(), 0);
  ASSERT_EQ(f->Next(), 0);
  ASSERT_EQ(f->Delete(), 0);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(Id(*f), 4);
  SetRow(*f, 3, "back", 0);
  ASSERT_EQ(f->Add(), 0);
  ASSERT_EQ(f->Previous(), 0);
  EXPECT_EQ(Id(*f), 3);
}

TEST_P(StoreFile, DuplicateKeysAreRefusedAndDetected) {
  auto f = Opened();
  AddRow(*f, 1, "a", 1);
  AddRow(*f, 2, "b", 1);
  EXPECT_EQ(AddRow(*f, 1, "c", 1), rt::kDupKeyError);
  std::int64_t count = 0;
  static_cast<void>(f->Records(count));
  EXPECT_EQ(count, 2);

  SetRow(*f, 2, "", 0);
  ASSERT_EQ(f->Get(*f->Key(1)), 0);
  rt::WriteInteger(f->Layout().Field(1), f->Record(), 1);
  bool dup = false;
  EXPECT_EQ(f->Duplicate(nullptr, dup), 0);
  EXPECT_TRUE(dup);
  EXPECT_EQ(f->Put(), rt::kDupKeyError);
  rt::WriteInteger(f->Layout().Field(1), f->Record(), 2);
  static_cast<void>(f->Duplicate(nullptr, dup));
  EXPECT_FALSE(dup);  // its own values are no duplicate
  SetRow(*f, 2, "", 0);
  ASSERT_EQ(f->Get(*f->Key(1)), 0);
  EXPECT_EQ(Name(*f), "b");
}

TEST_P(StoreFile, PositionsSurviveInsertsAndDeletes) {
  auto f = Opened();
  for (int i = 1; i <= 6; ++i)
    AddRow(*f, i * 10, "n" + std::to_string(i), 1);
  const rt::FileKey& key = *f->Key(1);
  SetRow(*f, 30, "", 0);
  ASSERT_EQ(f->Get(key), 0);
  const std::string keyPos = f->Position(&key);
  const std::string filePos = f->Position();
  ASSERT_FALSE(keyPos.empty());
  EXPECT_LE(keyPos.size(), rt::kMaxPositionSize);

  AddRow(*f, 25, "new", 1);
  ASSERT_EQ(f->Reset(&key, keyPos), 0);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(Id(*f), 30);
  ASSERT_EQ(f->Reget(nullptr, filePos), 0);
  EXPECT_EQ(Id(*f), 30);

  ASSERT_EQ(f->Delete(), 0);
  EXPECT_EQ(f->Reget(&key, keyPos), rt::kRecordNotFoundError);
  ASSERT_EQ(f->Reset(&key, keyPos), 0);
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(Id(*f), 40);
  ASSERT_EQ(f->Reset(&key, keyPos), 0);
  ASSERT_EQ(f->Previous(), 0);
  EXPECT_EQ(Id(*f), 25);

  // Garbage and a position of another order are errors, not crashes.
  EXPECT_NE(f->Reset(&key, "garbage"), 0);
  EXPECT_NE(f->Reset(&key, filePos), 0);
  EXPECT_NE(f->Reget(f->Key(2), keyPos), 0);
  EXPECT_NE(f->Reset(&key, std::string(2000, 'K')), 0);
}

TEST_P(StoreFile, LongKeyValuesFallBackToRecordIdPositions) {
  rt::RegisterStoreDriver();
  rt::RecordLayout layout("Long");
  layout.AddField("LNG:Text", rt::FieldType::String, 1500);
  rt::File f("LONG", "LNG", driver_, layout);
  const rt::FileKey& key = f.AddKey("LNG:Text_Key", {{1, true, false}}, false);
  f.SetName(dir_ + "/LONG");
  ASSERT_EQ(f.Create(), 0);
  ASSERT_EQ(f.Open(rt::kOpenReadWriteDenyNone), 0);
  for (char c : std::string("abc")) {
    rt::WriteText(layout.Field(1), f.Record(), std::string(1200, c));
    ASSERT_EQ(f.Add(), 0);
  }
  static_cast<void>(f.Set(key));
  ASSERT_EQ(f.Next(), 0);
  ASSERT_EQ(f.Next(), 0);
  const std::string pos = f.Position(&key);
  EXPECT_LE(pos.size(), rt::kMaxPositionSize);
  static_cast<void>(f.Set(key));
  ASSERT_EQ(f.Reset(&key, pos), 0);
  ASSERT_EQ(f.Next(), 0);
  EXPECT_EQ(rt::ReadText(layout.Field(1), f.Record())[0], 'b');
}

TEST_P(StoreFile, BlobsWrittenInPiecesReachTheTableOnAddAndPut) {
  auto f = Opened();
  // Three and a half chunks, filled by 32768-byte writes at increasing offsets.
  const std::size_t size = 3 * rt::kStoreChunkSize + 12345;
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  SetRow(*f, 1, "doc", 1);
  ASSERT_EQ(f->SetBlobSize(1, static_cast<std::int64_t>(size)), 0);
  for (std::size_t at = 0; at < size; at += 32768) {
    const std::size_t n = std::min<std::size_t>(32768, size - at);
    ASSERT_EQ(f->WriteBlob(1, static_cast<std::int64_t>(at), bytes.data() + at, n), 0);
  }
  ASSERT_EQ(f->Add(), 0);
  AddRow(*f, 2, "empty", 1);
  EXPECT_EQ(f->BlobSize(1), 0);

  auto g = MakeTable(path_);
  ASSERT_EQ(g->Open(rt::kOpenReadWriteDenyNone), 0);
  SetRow(*g, 1, "", 0);
  ASSERT_EQ(g->Get(*g->Key(1)), 0);
  EXPECT_EQ(g->BlobSize(1), static_cast<std::int64_t>(size));
  std::string part(100000, '\0');
  std::size_t got = 0;
  const std::int64_t offset = rt::kStoreChunkSize - 50000;  // spans a chunk boundary
  ASSERT_EQ(g->ReadBlob(1, offset, part.data(), part.size(), got), 0);
  EXPECT_EQ(got, part.size());
  EXPECT_EQ(part, bytes.substr(static_cast<std::size_t>(offset), part.size()));
  std::string tail(100, '\0');
  ASSERT_EQ(g->ReadBlob(1, static_cast<std::int64_t>(size) - 10, tail.data(), tail.size(), got), 0);
  EXPECT_EQ(got, 10u);

  // Shrink through Put; the other record's BLOB is untouched.
  ASSERT_EQ(g->SetBlobContents(1, "short"), 0);
  ASSERT_EQ(g->Put(), 0);
  std::string all;
  SetRow(*f, 1, "", 0);
  ASSERT_EQ(f->Get(*f->Key(1)), 0);
  ASSERT_EQ(f->GetBlobContents(1, all), 0);
  EXPECT_EQ(all, "short");

  // A record added from a read record carries its BLOB along.
  rt::WriteInteger(f->Layout().Field(1), f->Record(), 3);
  ASSERT_EQ(f->Add(), 0);
  SetRow(*g, 3, "", 0);
  ASSERT_EQ(g->Get(*g->Key(1)), 0);
  ASSERT_EQ(g->GetBlobContents(1, all), 0);
  EXPECT_EQ(all, "short");

  // Reading without BLOBs leaves them out, and a Put then keeps the stored ones.
  g->SkipBlobsOnNextRead();
  ASSERT_EQ(g->Get(*g->Key(1)), 0);
  EXPECT_EQ(g->BlobSize(1), 0);
  rt::WriteText(g->Layout().Field(2), g->Record(), "renamed");
  ASSERT_EQ(g->Put(), 0);
  ASSERT_EQ(g->Get(*g->Key(1)), 0);
  EXPECT_EQ(g->BlobSize(1), 5);

  EXPECT_NE(g->WriteBlob(2, 0, "x", 1), 0);  // no such BLOB
  EXPECT_NE(g->SetBlobSize(1, -1), 0);
}

TEST_P(StoreFile, ReadWithoutBlobsCoversOnlyTheNextAttempt) {
  auto f = Opened();
  // A failed read (here: nothing to read yet) uses up the option...
  f->SkipBlobsOnNextRead();
  SetRow(*f, 1, "", 0);
  EXPECT_NE(f->Get(*f->Key(1)), 0);
  SetRow(*f, 1, "doc", 1);
  ASSERT_EQ(f->SetBlobContents(1, "%PDF-bytes"), 0);
  ASSERT_EQ(f->Add(), 0);
  // ...so the next read brings the BLOB.
  SetRow(*f, 1, "", 0);
  ASSERT_EQ(f->Get(*f->Key(1)), 0);
  EXPECT_EQ(f->BlobSize(1), 10);
  // A successful read without BLOBs leaves them out once.
  f->SkipBlobsOnNextRead();
  ASSERT_EQ(f->Get(*f->Key(1)), 0);
  EXPECT_EQ(f->BlobSize(1), 0);
  ASSERT_EQ(f->Get(*f->Key(1)), 0);
  EXPECT_EQ(f->BlobSize(1), 10);
}

TEST_P(StoreFile, FileStateBringsBackPositionRecordAndBlobs) {
  auto f = Opened();
  for (int i = 1; i <= 5; ++i) {
    SetRow(*f, i, "n", 1);
    static_cast<void>(f->SetBlobContents(1, "blob" + std::to_string(i)));
    ASSERT_EQ(f->Add(), 0);
  }
  static_cast<void>(f->Set(*f->Key(1)));
  static_cast<void>(f->Next());
  static_cast<void>(f->Next());
  const int state = f->SaveState();
  ASSERT_GT(state, 0);
  static_cast<void>(f->Set(*f->Key(1)));
  ReadAll(*f);
  static_cast<void>(f->SetBlobContents(1, "changed"));
  ASSERT_EQ(f->RestoreState(state), 0);
  EXPECT_EQ(Id(*f), 2);
  std::string blob;
  static_cast<void>(f->GetBlobContents(1, blob));
  EXPECT_EQ(blob, "blob2");
  ASSERT_EQ(f->Next(), 0);
  EXPECT_EQ(Id(*f), 3);
  f->FreeState(state);
  EXPECT_NE(f->RestoreState(state), 0);
}

TEST_P(StoreFile, NullFlagsRoundTrip) {
  auto f = Opened();
  SetRow(*f, 1, "x", 1);
  f->SetNull(2);
  ASSERT_EQ(f->Add(), 0);
  SetRow(*f, 1, "", 0);
  ASSERT_EQ(f->Get(*f->Key(1)), 0);
  EXPECT_EQ(f->GetNulls(), "010");
  EXPECT_TRUE(f->IsNull(2));
}

TEST_P(StoreFile, TransactionsCommitAndRollBack) {
  auto f = Opened();
  ASSERT_EQ(f->SetTransactionMember(true), 0);
  ASSERT_EQ(rt::StartTransaction(2), 0);
  AddRow(*f, 1, "gone", 1);
  ASSERT_EQ(rt::RollbackTransaction(), 0);
  ASSERT_EQ(rt::StartTransaction(2), 0);
  AddRow(*f, 2, "kept", 1);
  ASSERT_EQ(rt::CommitTransaction(), 0);
  std::int64_t count = 0;
  static_cast<void>(f->Records(count));
  EXPECT_EQ(count, 1);
  EXPECT_NE(rt::CommitTransaction(), 0);

  rt::RecordLayout raw;
  raw.AddField("BUFFER", rt::FieldType::String, 16);
  rt::File rawFile("INFILE", "", "RAW", raw);
  EXPECT_EQ(rawFile.SetTransactionMember(true), rt::kNoDriverError);
}

namespace {
struct Recorder : rt::FileCallback {
  std::vector<int> before, after;
  int stopCode = -1;
  int OnOperationStart(int code, rt::FileCallbackParams& p) override {
    before.push_back(code);
    if (code == stopCode) {
      p.stop = true;
      p.stopCode = 33;
    }
    return 1;
  }
  int OnOperationEnd(int code, rt::FileCallbackParams&) override {
    after.push_back(code);
    return 1;
  }
};
}  // namespace

TEST_P(StoreFile, CallbacksSeeEveryOperationAndCanStopOne) {
  Recorder rec;
  {
    auto f = MakeTable(path_);
    f->AddCallback(rec);
    ASSERT_EQ(f->Create(), 0);
    ASSERT_EQ(f->Open(rt::kOpenReadWriteDenyNone), 0);
    AddRow(*f, 1, "a", 1);
    static_cast<void>(f->Set(*f->Key(1)));
    static_cast<void>(f->Next());
    static_cast<void>(f->Put());
    rec.stopCode = rt::kOpDelete;
    EXPECT_EQ(f->Delete(), 33);
    std::int64_t count = 0;
    static_cast<void>(f->Records(count));
    EXPECT_EQ(count, 1);
    static_cast<void>(f->Close());
  }
  const std::vector<int> expected{rt::kOpCreate, rt::kOpOpen,   rt::kOpAdd,    rt::kOpSet,
                                  rt::kOpNext,   rt::kOpPut,    rt::kOpDelete, rt::kOpRecords,
                                  rt::kOpClose,  rt::kOpDestroy};
  EXPECT_EQ(rec.before, expected);
  std::vector<int> expectedAfter = expected;
  std::erase(expectedAfter, rt::kOpDelete);  // stopped: no after-call
  EXPECT_EQ(rec.after, expectedAfter);
}

TEST_P(StoreFile, DriverCommandsAreAcceptedOpenOrClosed) {
  auto f = MakeTable(path_);
  std::string reply;
  EXPECT_EQ(f->Send("Recover=10", &reply), 0);
  EXPECT_EQ(reply, "10");
  ASSERT_EQ(f->Create(), 0);
  ASSERT_EQ(f->Open(rt::kOpenReadWriteDenyNone), 0);
  EXPECT_EQ(f->Send("QUICKSCAN=on"), 0);
  EXPECT_EQ(f->Send("FILEBUFFERS=20"), 0);
  EXPECT_EQ(f->Send("NOSUCHOPTION=1"), rt::kNoDriverError);
}

TEST_P(StoreFile, WritesWithoutACurrentRecordFail) {
  auto f = Opened();
  EXPECT_EQ(f->Put(), rt::kNoRecordError);
  EXPECT_EQ(f->Delete(), rt::kNoRecordError);
  EXPECT_TRUE(f->Position().empty());
  EXPECT_EQ(f->GetByPointer(0), rt::kRecordNotFoundError);
  // Reading no record leaves a file that had a current record without one.
  ASSERT_EQ(AddRow(*f, 1, "alpha", 1), 0);
  EXPECT_FALSE(f->Position().empty());
  EXPECT_EQ(f->GetByPointer(0), rt::kRecordNotFoundError);
  EXPECT_TRUE(f->Position().empty());
  EXPECT_EQ(f->Put(), rt::kNoRecordError);
}
