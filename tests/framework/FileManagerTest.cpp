// SPDX-License-Identifier: GPL-3.0-or-later
// The file manager, its record operations and the file open registry on real STORE tables in
// a temporary folder, with messages answered and recorded by the headless backend.

#include "framework/data/FileManager.h"
#include "support/BeforeOperation.h"
#include "support/BrowseFixture.h"
#include "support/Watchdog.h"
#include "support/WorkDir.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <optional>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "framework/data/FileMessages.h"
#include "framework/data/FileOpenRegistry.h"
#include "framework/data/ThreadFileMap.h"
#include "framework/error/ErrorManager.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/store/Store.h"

namespace {

namespace fs = std::filesystem;
using testing_support::BeforeOperation;
using testing_support::RecordingErrors;

// Counts the driver opens and closes of a file, over all threads.
class OpenCounter : public rt::FileCallback {
 public:
  int OnOperationStart(int, rt::FileCallbackParams&) override { return 1; }
  int OnOperationEnd(int code, rt::FileCallbackParams& params) override {
    if (code == rt::kOpOpen && params.result == 0) ++opens;
    if (code == rt::kOpClose && params.result == 0) ++closes;
    return 1;
  }
  std::atomic<int> opens{0};
  std::atomic<int> closes{0};
};

// ID (long), Name (string 20), one BLOB; the primary key on ID is auto-numbered and the key
// on Name is unique and ignores case.
std::unique_ptr<rt::File> MakeDocuments(bool shared = false) {
  rt::RegisterStoreDriver();
  rt::RecordLayout layout("Doc");
  layout.AddField("TST:ID", rt::FieldType::Long);
  layout.AddField("TST:Name", rt::FieldType::String, 20);
  auto file = std::make_unique<rt::File>("TESTDATA", "TST", testing_support::TestDriver(),
                                         std::move(layout));
  file->AddKey("TST:ID_Key", {{1, true, false}}, true, true);
  file->AddKey("TST:Name_Key", {{2, true, true}}, true);
  file->AddBlob("TST:Data");
  file->SetShared(shared);
  return file;
}

// Grp (string 4), Seq (long), numbered within each group.
std::unique_ptr<rt::File> MakeLines() {
  rt::RegisterStoreDriver();
  rt::RecordLayout layout("Line");
  layout.AddField("LIN:Grp", rt::FieldType::String, 4);
  layout.AddField("LIN:Seq", rt::FieldType::Long);
  auto file =
      std::make_unique<rt::File>("LINES", "LIN", testing_support::TestDriver(), std::move(layout));
  file->AddKey("LIN:GrpSeq", {{1, true, false}, {2, true, false}}, true);
  return file;
}

// A manager set up the way an application's table class does, with hook counters.
class TableManager : public testing_support::TableManagerBase {
 public:
  TableManager(rt::File& file, ErrorManager& errors, bool autoNumber = true)
      : TableManagerBase(file, errors) {
    if (file.KeyCount() > 0)
      AddKey(*file.Key(1), "", autoNumber ? file.Key(1)->ComponentCount() : 0);
    for (int k = 2; k <= file.KeyCount(); ++k)
      AddKey(*file.Key(k), "By name");
  }
  ~TableManager() override { Shutdown(); }

  int BeforeOpB(int code, rt::FileCallbackParams& params) override {
    if (code == rt::kOpAdd) {
      ++adds;
      if (adds == renameOnAdd) rt::WriteText(File->Layout().Field(2), File->Record(), "fresh");
    }
    return FileManager::BeforeOpB(code, params);
  }
  int BeforeOpD(int code, rt::FileCallbackParams& params) override {
    ++reads;
    return FileManager::BeforeOpD(code, params);
  }

  std::int32_t Id() {
    return static_cast<std::int32_t>(rt::ReadInteger(File->Layout().Field(1), File->Record()));
  }
  std::string Name() {
    return std::string(rt::ClipText(rt::ReadText(File->Layout().Field(2), File->Record())));
  }
  void Set(std::int32_t id, std::string_view name) {
    rt::WriteInteger(File->Layout().Field(1), File->Record(), id);
    rt::WriteText(File->Layout().Field(2), File->Record(), name);
  }

  int adds = 0;
  int reads = 0;
  int renameOnAdd = 0;
};

class FileManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("file-manager");
    ASSERT_TRUE(work_->Ok());
    dir_ = work_->Path();
    backend_ = rt::InstallHeadlessBackend();
    rt::ClearError();
    errors_.Start(status_);
  }
  void TearDown() override {
    errors_.Kill();
    status_.Destroy();
    work_.reset();
  }

  std::vector<rt::UiRequest> Messages() const { return testing_support::MessagesOf(*backend_); }
  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (auto& m : Messages())
      captions.push_back(m.caption);
    return captions;
  }

  // Adds rows straight through the runtime (creating the table when needed).
  void AddDocuments(const std::vector<std::pair<int, std::string>>& rows) {
    auto file = MakeDocuments();
    if (!fs::exists("TESTDATA.sqlite")) {
      ASSERT_EQ(file->Create(), 0);
    }
    ASSERT_EQ(file->Open(rt::kOpenReadWriteDenyNone), 0);
    for (auto& [id, name] : rows) {
      file->ClearRecord();
      rt::WriteInteger(file->Layout().Field(1), file->Record(), id);
      rt::WriteText(file->Layout().Field(2), file->Record(), name);
      ASSERT_EQ(file->Add(), 0);
    }
    static_cast<void>(file->Close());
  }

  std::optional<testing_support::WorkDir> work_;
  fs::path dir_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  rt::ThreadLocal<ErrorStatus> status_;
  RecordingErrors errors_;
};

// ---- Opening ----

TEST_F(FileManagerTest, MissingFileIsCreatedOnFirstOpenUnlessCreateIsOff) {
  {
    auto file = MakeDocuments();
    TableManager manager(*file, errors_);
    manager.Create = 0;
    EXPECT_EQ(manager.Open(), LevelQuiet);  // lazy: nothing touched yet
    EXPECT_EQ(manager.ReadNext(), LevelFatal);
    EXPECT_EQ(Captions(), std::vector<std::string>{"File Access Error"});
    EXPECT_NE(Messages()[0].text.find("could not be opened"), std::string::npos);
    EXPECT_EQ(errors_.fatal, 1);
    EXPECT_FALSE(fs::exists("TESTDATA.sqlite"));
    static_cast<void>(manager.Close());
  }
  backend_->ClearTranscript();
  auto file = MakeDocuments();
  TableManager manager(*file, errors_);
  ASSERT_EQ(manager.Open(), LevelQuiet);
  EXPECT_EQ(manager.ReadNext(), LevelNotify);  // created, and empty
  EXPECT_TRUE(manager.AtEof);
  EXPECT_NE(fs::exists("TESTDATA.sqlite"), testing_support::OnServer());  // the server's has none
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileManagerTest, WriteProtectedFileIsReopenedReadOnly) {
  AddDocuments({{1, "one"}});
  auto holder = MakeDocuments();
  ASSERT_EQ(holder->Open(rt::kAccessReadWrite | rt::kShareDenyWrite), 0);

  auto file = MakeDocuments();
  TableManager manager(*file, errors_);
  ASSERT_EQ(manager.Open(), LevelQuiet);
  EXPECT_EQ(manager.ReadNext(), LevelQuiet);
  EXPECT_EQ(manager.Id(), 1);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Access Denied"});
  EXPECT_EQ(manager.OpenMode, rt::kShareDenyNone | rt::kAccessReadOnly);
  EXPECT_EQ(file->Option("RECOVER"), "10");
  EXPECT_TRUE(file->ReadOnly());
  static_cast<void>(manager.Close());
  EXPECT_FALSE(file->IsOpen());

  // A holder that denies everything: the read-only attempt fails as well.
  backend_->ClearTranscript();
  static_cast<void>(holder->Close());
  ASSERT_EQ(holder->Open(rt::kAccessReadWrite | rt::kShareDenyAll), 0);
  ASSERT_EQ(manager.Open(), LevelQuiet);
  EXPECT_EQ(manager.ReadNext(), LevelFatal);
  EXPECT_EQ(Captions(), std::vector<std::string>{"File Access Error"});
  static_cast<void>(manager.Close());
}

TEST_F(FileManagerTest, LazyOpenWaitsForTheFirstReadAndReadBeforeOpenIsAUsageError) {
  AddDocuments({{1, "one"}, {2, "two"}});
  auto file = MakeDocuments();
  OpenCounter counter;
  file->AddCallback(counter);
  TableManager manager(*file, errors_);

  EXPECT_EQ(manager.ReadNext(), LevelFatal);
  EXPECT_EQ(Captions(), std::vector<std::string>{"File Usage Error"});
  EXPECT_NE(Messages()[0].text.find("(TESTDATA) before it was opened"), std::string::npos);
  EXPECT_EQ(counter.opens, 0);

  ASSERT_EQ(manager.Open(), LevelQuiet);
  EXPECT_EQ(counter.opens, 0);
  EXPECT_EQ(manager.Opened, 1);
  EXPECT_FALSE(manager.Used);
  EXPECT_EQ(manager.ReadNext(), LevelQuiet);
  EXPECT_EQ(counter.opens, 1);
  EXPECT_TRUE(manager.Used);

  // Nested opens: only the last close reaches the driver; extra closes do nothing.
  ASSERT_EQ(manager.Open(), LevelQuiet);
  static_cast<void>(manager.Close());
  EXPECT_TRUE(file->IsOpen());
  static_cast<void>(manager.Close());
  EXPECT_FALSE(file->IsOpen());
  EXPECT_EQ(counter.closes, 1);
  static_cast<void>(manager.Close());
  EXPECT_EQ(manager.Opened, 0);
  EXPECT_EQ(counter.closes, 1);
  file->RemoveCallback(counter);
}

TEST_F(FileManagerTest, FileThatIsNotATableIsReportedAsInvalid) {
  if (testing_support::OnServer()) GTEST_SKIP() << "a file on disk that is not a table";
  { std::ofstream("TESTDATA.sqlite") << "plain text, not a table\n"; }
  auto file = MakeDocuments();
  TableManager manager(*file, errors_);
  static_cast<void>(manager.Open());
  EXPECT_EQ(manager.TryReadNext(), LevelFatal);  // the open inside Use handles its failure
  EXPECT_EQ(Captions(), std::vector<std::string>{"Invalid File"});
  static_cast<void>(manager.Close());
  std::ifstream in("TESTDATA.sqlite");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "plain text, not a table");  // nothing was overwritten
}

// ---- Names, keys and lifecycle ----

TEST_F(FileManagerTest, KeyOrderAndFileNames) {
  rt::RecordLayout layout("K");
  layout.AddField("KEY:Code", rt::FieldType::String, 8);
  layout.AddField("KEY:Rank", rt::FieldType::Long);
  rt::File file("KEYS", "KEY", testing_support::TestDriver(), std::move(layout));
  const rt::FileKey& key = file.AddKey("KEY:Both", {{1, true, true}, {2, false, false}}, false);
  TableManager manager(file, errors_, false);
  EXPECT_EQ(manager.KeyOrder(key), "UPPER(KEY:Code),-KEY:Rank");
  EXPECT_EQ(manager.KeyOrder(key, 2), "-KEY:Rank");
  EXPECT_EQ(manager.ComponentCount(key), 2);
  EXPECT_FALSE(manager.ComponentAscending(key, 2));
  EXPECT_EQ(manager.ComponentLabel(key, 1), "UPPER(KEY:Code)");
  EXPECT_FALSE(manager.HasAutoInc);

  EXPECT_EQ(manager.GetFileName(), "KEYS");
  rt::FixedString<20> shown("Shown Name");
  manager.FileName = shown.Ref();
  EXPECT_EQ(manager.GetFileName(), "Shown Name");
  manager.FileName = rt::AnyRef();
  manager.FileNameValue = "";
  file.SetName("");
  EXPECT_EQ(manager.GetFileName(), "Unknown File");

  manager.Shutdown();
  EXPECT_TRUE(manager.Killed);
  manager.Shutdown();  // a second release does nothing
  EXPECT_EQ(manager.Keys, nullptr);
}

TEST_F(FileManagerTest, FileDestroyedBeforeItsManagerLeavesNothingDangling) {
  auto file = MakeDocuments();
  TableManager manager(*file, errors_);
  static_cast<void>(manager.Open());
  EXPECT_EQ(manager.ReadNext(), LevelNotify);
  file.reset();  // the destroy notification releases the manager's hold on it
  EXPECT_EQ(manager.File, nullptr);
  EXPECT_EQ(manager.ReadNext(), LevelFatal);
  EXPECT_EQ(ThreadFileMap::Current().FindFileManager(ThreadFileMap::LabelOf(manager)), nullptr);
}

// ---- Reads, delete ----

TEST_F(FileManagerTest, ReadsRunOffTheEndQuietlyAndDeleteAsksFirst) {
  AddDocuments({{1, "one"}, {2, "two"}});
  auto file = MakeDocuments();
  TableManager manager(*file, errors_);
  static_cast<void>(manager.Open());
  static_cast<void>(manager.Use(kUseRead));
  static_cast<void>(file->Set(*file->Key(1)));
  EXPECT_EQ(manager.ReadNext(), LevelQuiet);
  EXPECT_EQ(manager.ReadNext(), LevelQuiet);
  EXPECT_EQ(manager.ReadNext(), LevelNotify);
  EXPECT_TRUE(manager.AtEof);
  EXPECT_TRUE(Messages().empty());

  manager.Set(2, "");
  ASSERT_EQ(manager.FetchByKey(*file->Key(1)), LevelQuiet);
  EXPECT_EQ(manager.Name(), "two");
  backend_->PushAnswer(rt::kButtonNo);
  EXPECT_EQ(manager.DeleteCurrent(true), LevelCancel);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Confirm Delete"});
  backend_->PushAnswer(rt::kButtonYes);
  EXPECT_EQ(manager.DeleteCurrent(true), LevelQuiet);
  std::int64_t count = 0;
  static_cast<void>(file->Records(count));
  EXPECT_EQ(count, 1);

  // A failed fetch clears the buffer.
  manager.Set(2, "kept?");
  EXPECT_EQ(manager.FetchByKey(*file->Key(1)), LevelNotify);
  EXPECT_EQ(manager.Id(), 0);
  EXPECT_EQ(manager.Name(), "");
  // Deleting with no current record is recorded, not shown.
  const std::size_t shown = Messages().size();
  EXPECT_EQ(manager.DeleteCurrent(false), LevelNotify);
  EXPECT_EQ(manager.LastError, kMsgNotDeleted);
  EXPECT_EQ(Messages().size(), shown);
  static_cast<void>(manager.Close());
}

// ---- Auto-numbering and insert ----

TEST_F(FileManagerTest, AutoNumberingStartsAtOneAndAddsAtOnce) {
  auto file = MakeDocuments();
  TableManager manager(*file, errors_);
  static_cast<void>(manager.Open());
  ASSERT_EQ(manager.PrepareRecord(), LevelQuiet);
  EXPECT_EQ(manager.Id(), 1);
  EXPECT_TRUE(manager.AutoIncDone);
  manager.Set(1, "first");
  ASSERT_EQ(manager.Insert(), LevelQuiet);
  EXPECT_FALSE(manager.AutoIncDone);

  ASSERT_EQ(manager.PrepareRecord(), LevelQuiet);
  EXPECT_EQ(manager.Id(), 2);
  manager.Set(2, "second");
  ASSERT_EQ(manager.Insert(), LevelQuiet);

  // A pre-added record that is cancelled is removed again.
  ASSERT_EQ(manager.PrepareRecord(), LevelQuiet);
  EXPECT_EQ(manager.Id(), 3);
  EXPECT_EQ(manager.CancelAutoNumber(), LevelQuiet);
  EXPECT_FALSE(manager.AutoIncDone);
  std::int64_t count = 0;
  static_cast<void>(file->Records(count));
  EXPECT_EQ(count, 2);
  manager.Set(2, "");
  ASSERT_EQ(manager.FetchByKey(*file->Key(1)), LevelQuiet);
  EXPECT_EQ(manager.Name(), "second");
  EXPECT_TRUE(Messages().empty());

  // With the key's highest number taken, numbering fails and says so instead of wrapping.
  manager.Set(2147483647, "last");
  ASSERT_EQ(file->Add(), 0);
  EXPECT_EQ(manager.PrepareRecord(), LevelNotify);
  static_cast<void>(file->Records(count));
  EXPECT_EQ(count, 3);
  ASSERT_EQ(Messages().size(), 1u);
  EXPECT_NE(Messages()[0].text.find("No number is left above 2147483647"), std::string::npos);
  static_cast<void>(manager.Close());
}

TEST_F(FileManagerTest, AutoNumberingOnATwoComponentKeyCountsWithinThePrefix) {
  auto file = MakeLines();
  ASSERT_EQ(file->Create(), 0);
  TableManager manager(*file, errors_);
  static_cast<void>(manager.Open());
  const rt::FieldDesc& grp = file->Layout().Field(1);
  const rt::FieldDesc& seq = file->Layout().Field(2);
  auto add = [&](std::string_view group) {
    file->ClearRecord();
    rt::WriteText(grp, file->Record(), group);
    manager.AutoIncDone = 0;
    EXPECT_EQ(manager.AutoNumber(), LevelQuiet);
    return rt::ReadInteger(seq, file->Record());
  };
  EXPECT_EQ(add("B"), 1);  // empty table
  EXPECT_EQ(add("B"), 2);
  EXPECT_EQ(add("A"), 1);  // the record found belongs to no group "A"
  EXPECT_EQ(add("B"), 3);
  EXPECT_EQ(add("C"), 1);  // the nearest record is group "B"
  EXPECT_EQ(add("A"), 2);
  EXPECT_EQ(rt::ClipText(rt::ReadText(grp, file->Record())), "A");
  EXPECT_TRUE(Messages().empty());
  static_cast<void>(manager.Close());
}

TEST_F(FileManagerTest, ThreeFailedAddsAskAndYesTriesAgain) {
  AddDocuments({{1, "taken"}});
  auto file = MakeDocuments();
  TableManager manager(*file, errors_);
  static_cast<void>(manager.Open());
  static_cast<void>(manager.Use(kUseRead));

  // Try form: recorded only.
  manager.Set(0, "taken");
  EXPECT_EQ(manager.TryAutoNumber(), LevelNotify);
  EXPECT_EQ(manager.adds, 3);
  EXPECT_EQ(manager.LastError, kMsgAutoIncrement);
  EXPECT_TRUE(Messages().empty());

  // Yes starts three more attempts, No gives up with the record not added.
  manager.adds = 0;
  backend_->PushAnswer(rt::kButtonYes);
  backend_->PushAnswer(rt::kButtonNo);
  EXPECT_EQ(manager.AutoNumber(), LevelNotify);
  EXPECT_EQ(manager.adds, 6);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Auto Increment Error", "Auto Increment Error"}));
  EXPECT_NE(Messages()[0].text.find("Key: By name"), std::string::npos) << Messages()[0].text;
  EXPECT_FALSE(manager.AutoIncDone);
  std::int64_t count = 0;
  static_cast<void>(file->Records(count));
  EXPECT_EQ(count, 1);

  // Yes, and the fourth attempt succeeds (the hook renames the record before it).
  backend_->ClearTranscript();
  manager.adds = 0;
  manager.renameOnAdd = 4;
  manager.Set(0, "taken");
  backend_->PushAnswer(rt::kButtonYes);
  EXPECT_EQ(manager.AutoNumber(), LevelQuiet);
  EXPECT_EQ(manager.adds, 4);
  EXPECT_EQ(Messages().size(), 1u);
  EXPECT_TRUE(manager.AutoIncDone);
  EXPECT_EQ(manager.Id(), 2);
  static_cast<void>(file->Records(count));
  EXPECT_EQ(count, 2);

  // A silent error manager answers Yes by itself: no endless retrying.
  manager.AutoIncDone = 0;
  manager.adds = 0;
  manager.renameOnAdd = 0;
  manager.Set(0, "taken");
  errors_.SetSilent(1);
  EXPECT_EQ(manager.AutoNumber(), LevelNotify);
  EXPECT_EQ(manager.adds, 3);
  errors_.SetSilent(0);
  static_cast<void>(manager.Close());
}

TEST_F(FileManagerTest, DuplicateInsertNamesTheKey) {
  AddDocuments({{1, "taken"}});
  auto file = MakeDocuments();
  TableManager manager(*file, errors_, false);
  static_cast<void>(manager.Open());
  static_cast<void>(manager.Use(kUseRead));
  manager.Set(2, "TAKEN");  // the name key ignores case
  EXPECT_EQ(manager.TryInsert(), LevelNotify);
  EXPECT_EQ(manager.LastError, kMsgDuplicateKey);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(manager.Insert(), LevelNotify);
  ASSERT_EQ(Captions(), std::vector<std::string>{"Duplicate Key Error"});
  EXPECT_NE(Messages()[0].text.find("for the key: By name"), std::string::npos);
  manager.Set(2, "other");
  EXPECT_EQ(manager.Insert(), LevelQuiet);
  static_cast<void>(manager.Close());
}

TEST_F(FileManagerTest, DuplicateIsReportedOnTheUniqueKeyNotOnOneAllowingDuplicates) {
  rt::RegisterStoreDriver();
  rt::RecordLayout layout("Doc");
  layout.AddField("GRP:ID", rt::FieldType::Long);
  layout.AddField("GRP:Grp", rt::FieldType::String, 4);
  layout.AddField("GRP:Name", rt::FieldType::String, 20);
  rt::File file("GROUPED", "GRP", testing_support::TestDriver(), std::move(layout));
  file.AddKey("GRP:ID_Key", {{1, true, false}}, true, true);
  file.AddKey("GRP:Grp_Key", {{2, true, false}}, false);  // many documents share a group
  file.AddKey("GRP:Name_Key", {{3, true, false}}, true);
  ASSERT_EQ(file.Create(), 0);
  FileManager manager;
  manager.File = &file;
  manager.Errors = &errors_;
  manager.Init();
  manager.InitFile(file, errors_);
  manager.AddKey(*file.Key(1), "By id");
  manager.AddKey(*file.Key(2), "By group");
  manager.AddKey(*file.Key(3), "By name");
  ASSERT_EQ(manager.Open(), LevelQuiet);
  auto set = [&](std::int32_t id, std::string_view name) {
    file.ClearRecord();
    rt::WriteInteger(file.Layout().Field(1), file.Record(), id);
    rt::WriteText(file.Layout().Field(2), file.Record(), "A");
    rt::WriteText(file.Layout().Field(3), file.Record(), name);
  };
  set(1, "taken");
  ASSERT_EQ(manager.Insert(), LevelQuiet);
  set(2, "other");  // the current record now, so the driver's check leaves it out
  ASSERT_EQ(manager.Insert(), LevelQuiet);
  set(3, "taken");  // same group as both, same name as the first
  EXPECT_EQ(manager.Insert(), LevelNotify);
  ASSERT_EQ(Captions(), std::vector<std::string>{"Duplicate Key Error"});
  EXPECT_NE(Messages()[0].text.find("for the key: By name"), std::string::npos)
      << Messages()[0].text;
  static_cast<void>(manager.Close());
  manager.Shutdown();
}

// A hook that skips every add.
class SkippingManager : public TableManager {
 public:
  using TableManager::TableManager;
  int BeforeOpB(int code, rt::FileCallbackParams& params) override {
    if (code == rt::kOpAdd) StopOperation = 1;
    return TableManager::BeforeOpB(code, params);
  }
};

TEST_F(FileManagerTest, OperationStoppedByAHookFailsInsteadOfPassingForDone) {
  AddDocuments({});
  auto file = MakeDocuments();
  SkippingManager manager(*file, errors_, false);
  static_cast<void>(manager.Open());
  static_cast<void>(manager.Use(kUseRead));
  manager.Set(1, "skipped");
  EXPECT_EQ(manager.TryInsert(), LevelNotify);
  EXPECT_EQ(rt::ErrorCode(), rt::kOperationStopped);
  EXPECT_EQ(manager.Insert(), LevelNotify);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Record Insert Error"});
  std::int64_t count = -1;
  EXPECT_EQ(file->Records(count), 0);
  EXPECT_EQ(count, 0);
  static_cast<void>(manager.Close());
}

// ---- Update and change detection ----

TEST_F(FileManagerTest, UpdateAfterAnotherThreadChangedTheRecordShowsTheirVersion) {
  AddDocuments({{1, "original"}});
  auto file = MakeDocuments();
  TableManager manager(*file, errors_);
  static_cast<void>(manager.Open());
  static_cast<void>(manager.Use(kUseChange));
  static_cast<void>(file->Watch());
  manager.Set(1, "");
  ASSERT_EQ(manager.FetchByKey(*file->Key(1)), LevelQuiet);

  std::thread other([] {
    auto theirs = MakeDocuments();
    ASSERT_EQ(theirs->Open(rt::kOpenReadWriteDenyNone), 0);
    rt::WriteInteger(theirs->Layout().Field(1), theirs->Record(), 1);
    ASSERT_EQ(theirs->Get(*theirs->Key(1)), 0);
    rt::WriteText(theirs->Layout().Field(2), theirs->Record(), "theirs");
    ASSERT_EQ(theirs->Put(), 0);
    static_cast<void>(theirs->Close());
  });
  other.join();

  manager.Set(1, "mine");
  EXPECT_EQ(manager.Update(), LevelNotify);
  ASSERT_EQ(Captions(), std::vector<std::string>{"Record Was Not Updated"});
  EXPECT_EQ(Messages()[0].text, "This record was changed by another station.");
  EXPECT_EQ(manager.LastError, kMsgRecordChanged);
  EXPECT_EQ(manager.Name(), "theirs");

  // Watched again: the user's second try goes through.
  manager.Set(1, "mine");
  EXPECT_EQ(manager.Update(), LevelQuiet);
  manager.Set(1, "");
  static_cast<void>(manager.FetchByKey(*file->Key(1)));
  EXPECT_EQ(manager.Name(), "mine");
  static_cast<void>(manager.Close());
}

// ---- Saved buffers and states ----

TEST_F(FileManagerTest, SavedBuffersKeepRecordAndBlobExactly) {
  AddDocuments({{1, "one"}});
  auto file = MakeDocuments();
  TableManager manager(*file, errors_);
  static_cast<void>(manager.Open());
  manager.Set(1, "");
  ASSERT_EQ(manager.FetchByKey(*file->Key(1)), LevelQuiet);
  ASSERT_EQ(file->SetBlobContents(1, std::string("pdf bytes  ")), 0);
  ASSERT_EQ(manager.Update(), LevelQuiet);  // a write clears the BLOB-changed flag

  std::int32_t id = manager.SaveBuffer();
  EXPECT_EQ(id, 1);
  EXPECT_TRUE(manager.BufferUnchanged(id));
  manager.Set(1, "changed");
  EXPECT_FALSE(manager.BufferUnchanged(id));
  manager.Set(1, "one");
  EXPECT_TRUE(manager.BufferUnchanged(id));
  // Any BLOB write counts as a change, even of the same bytes.
  ASSERT_EQ(file->SetBlobContents(1, std::string("pdf bytes  ")), 0);
  EXPECT_FALSE(manager.BufferUnchanged(id));

  std::int32_t next = manager.SaveBuffer();
  EXPECT_EQ(next, id + 3);  // record, one BLOB, null flags
  std::int32_t none = 0;
  manager.RestoreBuffer(none);  // nothing saved: nothing happens
  manager.RestoreBuffer(next, false);
  EXPECT_EQ(next, 0);

  manager.Set(9, "other");
  static_cast<void>(file->SetBlobContents(1, "x"));
  manager.RestoreBuffer(id);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(manager.Id(), 1);
  EXPECT_EQ(manager.Name(), "one");
  std::string blob;
  static_cast<void>(file->GetBlobContents(1, blob));
  EXPECT_EQ(blob, "pdf bytes  ");  // trailing blanks of a BLOB are data
  EXPECT_TRUE(manager.Buffers->empty());
  std::int32_t again = 1;
  manager.RestoreBuffer(again);  // already given back: ignored
  EXPECT_EQ(again, 0);
  static_cast<void>(manager.Close());
}

TEST_F(FileManagerTest, CalledProcedureGivesTheCallerItsRecordAndPositionBack) {
  AddDocuments({{1, "one"}, {2, "two"}, {3, "three"}});
  auto file = MakeDocuments();
  TableManager manager(*file, errors_);
  ThreadFileMap& map = ThreadFileMap::Current();

  errors_.SetProcedureName("Caller");
  static_cast<void>(manager.Open());
  static_cast<void>(manager.Use(kUseRead));
  static_cast<void>(file->Set(*file->Key(1)));
  static_cast<void>(manager.ReadNext());
  static_cast<void>(manager.ReadNext());
  ASSERT_EQ(manager.Id(), 2);

  // A reading procedure borrows the table, and gives it back when it closes it.
  errors_.SetProcedureName("Reader");
  static_cast<void>(manager.Open());
  static_cast<void>(manager.Use(kUseRead));
  static_cast<void>(manager.Open());  // opened twice by the same procedure
  ASSERT_EQ(map.StatusQ.size(), 2u);
  EXPECT_EQ(map.StatusQ[1].ScopeLevel, 2);
  EXPECT_NE(map.StatusQ[1].Hold, 0);
  manager.Set(3, "");
  ASSERT_EQ(manager.FetchByKey(*file->Key(1)), LevelQuiet);
  EXPECT_EQ(manager.Name(), "three");
  static_cast<void>(manager.Close());
  EXPECT_EQ(map.StatusQ.size(), 2u);  // still in use after the first of two closes
  EXPECT_EQ(manager.Name(), "three");
  static_cast<void>(manager.Close());
  errors_.SetProcedureName("", true);
  EXPECT_EQ(map.StatusQ.size(), 1u);
  EXPECT_EQ(manager.Id(), 2);
  EXPECT_EQ(manager.Name(), "two");
  ASSERT_EQ(manager.ReadNext(), LevelQuiet);
  EXPECT_EQ(manager.Id(), 3);

  // A changing procedure keeps what it did.
  errors_.SetProcedureName("Changer");
  static_cast<void>(manager.Open());
  static_cast<void>(manager.Use(kUseChange));
  manager.Set(1, "");
  ASSERT_EQ(manager.FetchByKey(*file->Key(1)), LevelQuiet);
  static_cast<void>(manager.Close());
  errors_.SetProcedureName("", true);
  EXPECT_EQ(manager.Id(), 1);
  EXPECT_EQ(map.StatusQ.size(), 1u);
  EXPECT_TRUE(manager.Saved->empty());

  static_cast<void>(manager.Close());
  errors_.SetProcedureName("", true);
  EXPECT_TRUE(map.StatusQ.empty());
}

// ---- Hooks ----

TEST_F(FileManagerTest, HooksSeeTheirGroupsAndMarkedOperationsHideInnerOnes) {
  AddDocuments({{1, "one"}});
  auto file = MakeDocuments();
  TableManager manager(*file, errors_);
  static_cast<void>(manager.Open());
  static_cast<void>(manager.Use(kUseRead));
  manager.reads = 0;
  static_cast<void>(file->Set(*file->Key(1)));
  static_cast<void>(manager.ReadNext());
  EXPECT_EQ(manager.reads, 2);  // the set and the next

  rt::FileCallbackParams marked;
  marked.marked = true;
  EXPECT_EQ(manager.OnOperationStart(rt::kOpNext, marked), 1);
  EXPECT_TRUE(manager.InView);
  EXPECT_EQ(manager.reads, 3);
  rt::FileCallbackParams inner;
  manager.OnOperationStart(rt::kOpNext, inner);  // inside the marked one: no hook
  manager.OnOperationEnd(rt::kOpNext, inner);
  EXPECT_EQ(manager.reads, 3);
  manager.OnOperationEnd(rt::kOpNext, marked);
  EXPECT_FALSE(manager.InView);
  static_cast<void>(manager.Close());
}

// ---- File open registry ----

TEST_F(FileManagerTest, TwoThreadsShareOneDriverOpenOfASharedTable) {
  AddDocuments({{1, "one"}});
  auto file = MakeDocuments(true);
  OpenCounter counter;
  file->AddCallback(counter);
  TableManager first(*file, errors_);
  EXPECT_EQ(FileOpenRegistry::SharedOpenerCount(), 1);
  static_cast<void>(first.Open());
  ASSERT_EQ(first.ReadNext(), LevelQuiet);
  EXPECT_EQ(counter.opens, 1);

  std::atomic<bool> openInThread{false};
  std::atomic<int> opensInThread{-1};
  std::thread second([&] {
    TableManager manager(*file, errors_);
    static_cast<void>(manager.Open());
    static_cast<void>(manager.Use(kUseRead));
    opensInThread = counter.opens.load();
    static_cast<void>(manager.Close());
    openInThread = file->IsOpen();
  });
  second.join();
  EXPECT_EQ(opensInThread, 1);
  EXPECT_TRUE(openInThread);  // the first thread still has it open
  EXPECT_EQ(FileOpenRegistry::SharedOpenerCount(), 1);
  static_cast<void>(first.Close());
  EXPECT_FALSE(file->IsOpen());
  EXPECT_EQ(counter.closes, 1);
  first.Shutdown();
  EXPECT_EQ(FileOpenRegistry::SharedOpenerCount(), 0);
  file->RemoveCallback(counter);
}

TEST_F(FileManagerTest, FailedSharedOpenLeavesTheCountForTheNextTry) {
  auto file = MakeDocuments(true);
  IFileOpenServer* opener = FileOpenRegistry::GetOpener(*file);
  auto* shared = dynamic_cast<SharedFileOpener*>(opener);
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(opener->Open(rt::kOpenReadWriteDenyNone), rt::kNoFileError);
  EXPECT_EQ(shared->FileUsageCount, 0);
  ASSERT_EQ(file->Create(), 0);
  EXPECT_EQ(opener->Open(rt::kOpenReadWriteDenyNone), 0);
  EXPECT_EQ(opener->Open(rt::kOpenReadWriteDenyNone), 0);
  EXPECT_EQ(shared->FileUsageCount, 2);
  EXPECT_EQ(opener->Close(), 0);
  EXPECT_TRUE(file->IsOpen());
  EXPECT_EQ(opener->Close(), 0);
  EXPECT_FALSE(file->IsOpen());
  EXPECT_EQ(opener->Close(), 0);  // an extra close does nothing
  EXPECT_EQ(shared->FileUsageCount, 0);
  EXPECT_EQ(FileOpenRegistry::GetOpener(*file), opener);
  opener->Release();
  EXPECT_EQ(FileOpenRegistry::SharedOpenerCount(), 1);
  opener->Release();
  EXPECT_EQ(FileOpenRegistry::SharedOpenerCount(), 0);
}

TEST_F(FileManagerTest, SharedOpenDoesNotHoldTheOpenersLockAcrossTheFilesCallbacks) {
  auto file = MakeDocuments(true);
  ASSERT_EQ(file->Create(), 0);
  IFileOpenServer* opener = FileOpenRegistry::GetOpener(*file);
  testing_support::Watchdog watchdog("SharedOpenDoesNotHoldTheOpenersLockAcrossTheFilesCallbacks");
  OpenCounter counter;
  file->AddCallback(counter);

  // One thread opens the table through the opener while a callback of another operation on
  // the same file, on a second thread, opens it too: neither may hold a lock the other needs
  // while it calls out.
  std::mutex mutex;
  std::condition_variable changed;
  bool sendStarted = false;
  bool fileOpening = false;
  const std::thread::id firstThread = std::this_thread::get_id();
  int secondOpen = -1;
  BeforeOperation opening(rt::kOpOpen, [&] {
    std::lock_guard lock(mutex);
    if (std::this_thread::get_id() == firstThread) fileOpening = true;
    changed.notify_all();
  });
  BeforeOperation sending(rt::kOpSend, [&] {
    {
      // Give the first open the time to reach the file before this one goes on.
      std::unique_lock lock(mutex);
      sendStarted = true;
      changed.notify_all();
      changed.wait_for(lock, std::chrono::milliseconds(500), [&] { return fileOpening; });
    }
    secondOpen = opener->Open(rt::kOpenReadWriteDenyNone);
  });
  file->AddCallback(opening);
  file->AddCallback(sending);
  std::thread second([&] { static_cast<void>(file->Send("QUICKSCAN=on")); });
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return sendStarted; });
  }
  EXPECT_EQ(opener->Open(rt::kOpenReadWriteDenyNone), 0);
  second.join();
  EXPECT_EQ(secondOpen, 0);
  EXPECT_EQ(counter.opens, 1);
  EXPECT_EQ(dynamic_cast<SharedFileOpener&>(*opener).FileUsageCount, 2);
  EXPECT_EQ(opener->Close(), 0);
  EXPECT_TRUE(file->IsOpen());
  EXPECT_EQ(opener->Close(), 0);
  EXPECT_FALSE(file->IsOpen());
  EXPECT_EQ(counter.closes, 1);
  file->RemoveCallback(sending);
  file->RemoveCallback(opening);
  file->RemoveCallback(counter);
  opener->Release();
}

TEST_F(FileManagerTest, ThreadHooksGiveEachThreadItsOwnMap) {
  rt::ClearHooks();
  RegisterFileRegistryHooks();
  std::atomic<bool> freshInThread{false};
  rt::RunProgram([&] {
    ThreadFileMap::Current().StatusQ.push_back({});
    rt::Start([&](const std::vector<std::string>&) {
      freshInThread = ThreadFileMap::Exists() && ThreadFileMap::Current().StatusQ.empty();
    });
    rt::JoinAllThreads();
  });
  rt::ClearHooks();
  EXPECT_TRUE(freshInThread);
}

}  // namespace
