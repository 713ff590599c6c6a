// SPDX-License-Identifier: GPL-3.0-or-later
// The relation manager over small STORE tables of its own: a parent table of codes and a
// child table whose records link to a parent by its code.

#include "framework/data/RelationManager.h"
#include "support/BrowseFixture.h"
#include "support/WorkDir.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <optional>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "framework/data/FileManager.h"
#include "framework/data/ThreadFileMap.h"
#include "framework/error/ErrorManager.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/store/Store.h"

namespace {

namespace fs = std::filesystem;
using testing_support::RecordingErrors;

// PAR:Code (string 10, unique primary key), PAR:Name (string 20).
std::unique_ptr<rt::File> MakeParents() {
  rt::RegisterStoreDriver();
  rt::RecordLayout layout("Parent");
  layout.AddField("PAR:Code", rt::FieldType::String, 10);
  layout.AddField("PAR:Name", rt::FieldType::String, 20);
  auto file = std::make_unique<rt::File>("PARENTS", "PAR", testing_support::TestDriver(),
                                         std::move(layout));
  file->AddKey("PAR:CodeKey", {{1, true, false}}, true, true);
  return file;
}

// CHI:ID (long, unique primary key), CHI:Parent (string 10), key on (Parent, ID).
std::unique_ptr<rt::File> MakeChildren() {
  rt::RegisterStoreDriver();
  rt::RecordLayout layout("Child");
  layout.AddField("CHI:ID", rt::FieldType::Long);
  layout.AddField("CHI:Parent", rt::FieldType::String, 10);
  auto file = std::make_unique<rt::File>("CHILDREN", "CHI", testing_support::TestDriver(),
                                         std::move(layout));
  file->AddKey("CHI:IdKey", {{1, true, false}}, true, true);
  file->AddKey("CHI:ParentKey", {{2, true, false}, {1, true, false}}, true);
  return file;
}

// Counts transaction starts, commits and rollbacks that succeeded.
class TransactionCounter : public rt::FileCallback {
 public:
  int OnOperationStart(int, rt::FileCallbackParams&) override { return 1; }
  int OnOperationEnd(int code, rt::FileCallbackParams& params) override {
    if (params.result != 0) return 1;
    if (code == rt::kOpStartTransaction) ++starts;
    if (code == rt::kOpCommit) ++commits;
    if (code == rt::kOpRollback) ++rollbacks;
    return 1;
  }
  int starts = 0;
  int commits = 0;
  int rollbacks = 0;
};

class TableManager : public testing_support::TableManagerBase {
 public:
  TableManager(rt::File& file, ErrorManager& errors) : TableManagerBase(file, errors) {
    for (int k = 1; k <= file.KeyCount(); ++k)
      AddKey(*file.Key(k), file.Key(k)->Name());
  }
  ~TableManager() override { Shutdown(); }

  ErrorLevel DeleteCurrent(bool confirm) override {
    if (failDeletes > 0) {
      --failDeletes;
      rt::SetError(rt::kDriverError, {}, "5", "disk is locked");
      SetError(13);  // "Record was not deleted"
      return LevelNotify;
    }
    return FileManager::DeleteCurrent(confirm);
  }

  rt::AnyRef Field(int number) { return rt::AnyRef(File->Record(), File->Layout().Field(number)); }
  std::string Text(int number) { return std::string(rt::ClipText(Field(number).Text())); }

  int failDeletes = 0;
};

// A relation manager whose relation list is given by the test.
class TableRelations : public RelationManager {
 public:
  void DeferredAddRelations() override {
    ++deferredCalls;
    for (auto& add : pending)
      add(*Relations);
  }
  // Appends a relation to `other` linking this table's field `mine` to its field `his`.
  void Relate(TableRelations& other, int mine, int his, const rt::FileKey* hisKey,
              std::uint8_t updateMode, std::uint8_t deleteMode) {
    pending.push_back([=, this, &other](std::vector<RelationEntry>& list) {
      RelationEntry entry;
      entry.File = &other;
      entry.Fields = std::make_unique<BufferedPairs>();
      entry.Fields->Init();
      entry.Fields->AddPair(
          rt::AnyRef(Me->File->Record(), Me->File->Layout().Field(mine)),
          rt::AnyRef(other.Me->File->Record(), other.Me->File->Layout().Field(his)));
      entry.HisKey = hisKey;
      entry.UpdateMode = updateMode;
      entry.DeleteMode = deleteMode;
      list.push_back(std::move(entry));
    });
  }
  int deferredCalls = 0;
  std::vector<std::function<void(std::vector<RelationEntry>&)>> pending;
};

using Child = std::pair<int, std::string>;

class RelationManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("relation-manager");
    ASSERT_TRUE(work_->Ok());
    dir_ = work_->Path();
    backend_ = rt::InstallHeadlessBackend();
    rt::ClearError();
    errors_.Start(status_);
    Seed({"A", "B"}, {{1, "A"}, {2, "A"}, {3, "A"}, {4, "B"}});
    parentFile_ = MakeParents();
    childFile_ = MakeChildren();
    parent_ = std::make_unique<TableManager>(*parentFile_, errors_);
    child_ = std::make_unique<TableManager>(*childFile_, errors_);
    parentRel_.Init(*parent_, 1);
    childRel_.Init(*child_, 1);
    parentFile_->AddCallback(parentCount_);
  }
  void TearDown() override {
    parentFile_->RemoveCallback(parentCount_);
    parentRel_.Kill();
    childRel_.Kill();
    parent_.reset();
    child_.reset();
    parentFile_.reset();
    childFile_.reset();
    errors_.Kill();
    status_.Destroy();
    work_.reset();
  }

  void Seed(const std::vector<std::string>& codes, const std::vector<Child>& children) {
    auto parents = MakeParents();
    ASSERT_EQ(parents->Create(), 0);
    ASSERT_EQ(parents->Open(rt::kOpenReadWriteDenyNone), 0);
    for (const auto& code : codes) {
      parents->ClearRecord();
      rt::WriteText(parents->Layout().Field(1), parents->Record(), code);
      ASSERT_EQ(parents->Add(), 0);
    }
    auto kids = MakeChildren();
    ASSERT_EQ(kids->Create(), 0);
    ASSERT_EQ(kids->Open(rt::kOpenReadWriteDenyNone), 0);
    for (const auto& [id, code] : children) {
      kids->ClearRecord();
      rt::WriteInteger(kids->Layout().Field(1), kids->Record(), id);
      rt::WriteText(kids->Layout().Field(2), kids->Record(), code);
      ASSERT_EQ(kids->Add(), 0);
    }
  }

  // What the tables hold, read through files of their own.
  static std::vector<std::string> StoredParents() {
    auto file = MakeParents();
    std::vector<std::string> codes;
    if (file->Open(rt::kOpenReadOnlyDenyNone) != 0) return codes;
    static_cast<void>(file->Set(*file->Key(1)));
    while (file->Next() == 0)
      codes.emplace_back(rt::ClipText(rt::ReadText(file->Layout().Field(1), file->Record())));
    return codes;
  }
  static std::vector<Child> StoredChildren() {
    auto file = MakeChildren();
    std::vector<Child> children;
    if (file->Open(rt::kOpenReadOnlyDenyNone) != 0) return children;
    static_cast<void>(file->Set(*file->Key(1)));
    while (file->Next() == 0) {
      children.emplace_back(
          static_cast<int>(rt::ReadInteger(file->Layout().Field(1), file->Record())),
          rt::ClipText(rt::ReadText(file->Layout().Field(2), file->Record())));
    }
    return children;
  }

  // Opens the parent's relation tree and reads the parent with the code.
  void ReadParent(const std::string& code) {
    ASSERT_EQ(parentRel_.Open(), LevelQuiet);
    parent_->Field(1).SetText(code);
    ASSERT_EQ(parent_->TryFetchByKey(*parentFile_->Key(1)), LevelQuiet);
    parentRel_.SaveLinkValues();
  }

  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (auto& request : backend_->Transcript())
      if (request.kind == "message") captions.push_back(request.caption);
    return captions;
  }

  // Parent -> child on the child's parent key, with the given modes.
  void RelateChildren(std::uint8_t updateMode, std::uint8_t deleteMode) {
    parentRel_.Relate(childRel_, 1, 2, childFile_->Key(2), updateMode, deleteMode);
  }

  std::optional<testing_support::WorkDir> work_;
  fs::path dir_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  rt::ThreadLocal<ErrorStatus> status_;
  RecordingErrors errors_;
  std::unique_ptr<rt::File> parentFile_;
  std::unique_ptr<rt::File> childFile_;
  std::unique_ptr<TableManager> parent_;
  std::unique_ptr<TableManager> child_;
  TableRelations parentRel_;
  TableRelations childRel_;
  TransactionCounter parentCount_;
};

// ---- Passes ----

TEST_F(RelationManagerTest, OpenAndClosePassesVisitEachTableOnceInACycle) {
  RelateChildren(kRelationCascade, kRelationCascade);
  childRel_.Relate(parentRel_, 2, 1, nullptr, kRelationNone, kRelationNone);

  // A plain pass does not build the related table's list; a forcing one does.
  ASSERT_EQ(parentRel_.Open(), LevelQuiet);
  EXPECT_EQ(childRel_.deferredCalls, 0);
  static_cast<void>(parentRel_.Close());
  EXPECT_FALSE(parentFile_->IsOpen());

  ASSERT_EQ(parentRel_.OpenForcing(0), LevelQuiet);
  EXPECT_EQ(parent_->Opened, 1);
  EXPECT_EQ(child_->Opened, 1);
  EXPECT_TRUE(parentFile_->IsOpen());
  EXPECT_FALSE(childFile_->IsOpen());  // lazily opened: by its first use
  EXPECT_EQ((*parentRel_.Relations)[0].Opened, 1);
  EXPECT_EQ((*childRel_.Relations)[0].Opened, 0);  // the parent was already visited
  EXPECT_EQ(parentRel_.deferredCalls, 1);
  EXPECT_EQ(childRel_.deferredCalls, 1);

  // The child's own open pass reaches the parent through its relation.
  ASSERT_EQ(childRel_.Open(), LevelQuiet);
  EXPECT_EQ(child_->Opened, 2);
  EXPECT_EQ(parent_->Opened, 2);
  EXPECT_EQ((*childRel_.Relations)[0].Opened, 1);

  static_cast<void>(childRel_.Close());
  static_cast<void>(parentRel_.Close());
  EXPECT_EQ(parent_->Opened, 0);
  EXPECT_EQ(child_->Opened, 0);
  EXPECT_EQ((*parentRel_.Relations)[0].Opened, 0);
  EXPECT_EQ((*childRel_.Relations)[0].Opened, 0);
  EXPECT_FALSE(parentFile_->IsOpen());
  EXPECT_FALSE(childFile_->IsOpen());
  EXPECT_EQ(parentRel_.deferredCalls, 1);  // the list is built once
}

TEST_F(RelationManagerTest, QuickScanFollowsTheRequestedRelations) {
  RelateChildren(kRelationNone, kRelationNone);
  childRel_.Relate(parentRel_, 2, 1, nullptr, kRelationNone, kRelationNone);
  ASSERT_EQ(parentRel_.OpenForcing(0), LevelQuiet);

  parentRel_.SetQuickScan(1, 1);  // only relations without a key of the related table
  EXPECT_EQ(parentFile_->Option("QUICKSCAN"), "on");
  EXPECT_EQ(childFile_->Option("QUICKSCAN"), "");

  parentRel_.SetQuickScan(1, 2);  // relations with one
  EXPECT_EQ(childFile_->Option("QUICKSCAN"), "on");

  childRel_.SetQuickScan(0, 3);  // all, through the cycle and back
  EXPECT_EQ(childFile_->Option("QUICKSCAN"), "off");
  EXPECT_EQ(parentFile_->Option("QUICKSCAN"), "off");
  static_cast<void>(parentRel_.Close());
}

// ---- Update ----

TEST_F(RelationManagerTest, CascadedUpdateCarriesTheNewCodeToEveryChild) {
  RelateChildren(kRelationCascade, kRelationNone);
  ReadParent("A");
  parent_->Field(1).SetText("Z");
  EXPECT_EQ(parentRel_.Update(), LevelQuiet);
  EXPECT_TRUE(Captions().empty());
  EXPECT_EQ(StoredParents(), (std::vector<std::string>{"B", "Z"}));
  EXPECT_EQ(StoredChildren(), (std::vector<Child>{{1, "Z"}, {2, "Z"}, {3, "Z"}, {4, "B"}}));
  EXPECT_EQ(parentCount_.starts, 1);
  EXPECT_EQ(parentCount_.commits, 1);
  // The update's close pass undid its own opens; the reader's close undoes the rest.
  EXPECT_EQ(child_->Opened, 1);
  static_cast<void>(parentRel_.Close());
  EXPECT_EQ(parent_->Opened, 0);
  EXPECT_EQ(child_->Opened, 0);
}

TEST_F(RelationManagerTest, RestrictedUpdateWithChildrenRestoresTheParentsCode) {
  RelateChildren(kRelationRestrict, kRelationNone);
  ReadParent("A");
  parent_->Field(1).SetText("Z");
  parent_->Field(2).SetText("changed");
  EXPECT_EQ(parentRel_.Update(), LevelNotify);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Referential Integrity Update Error"});
  EXPECT_NE(backend_->Transcript()[0].text.find("CHILDREN"), std::string::npos);
  EXPECT_EQ(parent_->Text(1), "A");        // the linking field has its earlier value back
  EXPECT_EQ(parent_->Text(2), "changed");  // the other edits stay for another try
  // The parent's write was rolled back with the transaction.
  EXPECT_EQ(StoredParents(), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(StoredChildren(), (std::vector<Child>{{1, "A"}, {2, "A"}, {3, "A"}, {4, "B"}}));
  EXPECT_EQ(parentCount_.rollbacks, 1);
  EXPECT_EQ(parentCount_.commits, 0);
}

// A restricted update rolls back the parent's write; the retry must write again and succeed,
// not be taken for another station's change because the rolled-back write moved the
// record's version in memory.
TEST_F(RelationManagerTest, RetryAfterARestrictedUpdateStoresTheEdits) {
  RelateChildren(kRelationRestrict, kRelationNone);
  ASSERT_EQ(parentRel_.Open(), LevelQuiet);
  parent_->Field(1).SetText("A");
  static_cast<void>(parentFile_->Watch());
  ASSERT_EQ(parent_->TryFetchByKey(*parentFile_->Key(1)), LevelQuiet);
  parentRel_.SaveLinkValues();
  parent_->Field(1).SetText("Z");
  parent_->Field(2).SetText("changed");
  ASSERT_EQ(parentRel_.Update(), LevelNotify);
  ASSERT_EQ(parent_->Text(1), "A");
  EXPECT_EQ(parentRel_.Update(), LevelQuiet);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Referential Integrity Update Error"});
  parent_->Field(1).SetText("A");
  ASSERT_EQ(parent_->TryFetchByKey(*parentFile_->Key(1)), LevelQuiet);
  EXPECT_EQ(parent_->Text(2), "changed");
}

// ---- Delete ----

TEST_F(RelationManagerTest, DeleteRulesCascadeClearAndRestrict) {
  RelateChildren(kRelationNone, kRelationRestrict);
  ReadParent("A");
  EXPECT_EQ(parentRel_.Delete(false), LevelNotify);
  // The restriction is final: no question whether to try again.
  EXPECT_EQ(Captions(), std::vector<std::string>{"Referential Integrity Delete Error"});
  EXPECT_EQ(StoredParents(), (std::vector<std::string>{"A", "B"}));

  (*parentRel_.Relations)[0].DeleteMode = kRelationClear;
  ReadParent("B");
  EXPECT_EQ(parentRel_.Delete(false), LevelQuiet);
  EXPECT_EQ(StoredChildren(), (std::vector<Child>{{1, "A"}, {2, "A"}, {3, "A"}, {4, ""}}));

  (*parentRel_.Relations)[0].DeleteMode = kRelationCascade;
  ReadParent("A");
  EXPECT_EQ(parentRel_.Delete(false), LevelQuiet);
  EXPECT_TRUE(StoredParents().empty());
  EXPECT_EQ(StoredChildren(), (std::vector<Child>{{4, ""}}));
  EXPECT_EQ(Captions().size(), 1u);
}

TEST_F(RelationManagerTest, FailedDeleteAnsweredYesStartsAgainWithANewTransaction) {
  RelateChildren(kRelationNone, kRelationCascade);
  ReadParent("A");
  backend_->PushAnswer(rt::kButtonNo);  // "Confirm Delete"
  EXPECT_EQ(parentRel_.Delete(true), LevelCancel);
  EXPECT_EQ(parentCount_.starts, 0);
  backend_->ClearTranscript();

  parent_->failDeletes = 1;
  backend_->PushAnswer(rt::kButtonOk);   // "Record was not deleted"
  backend_->PushAnswer(rt::kButtonYes);  // "Record Delete Error": try again
  EXPECT_EQ(parentRel_.Delete(false), LevelQuiet);
  EXPECT_EQ(Captions(),
            (std::vector<std::string>{"Record was not deleted", "Record Delete Error"}));
  EXPECT_EQ(parentCount_.starts, 2);
  EXPECT_EQ(parentCount_.rollbacks, 1);
  EXPECT_EQ(parentCount_.commits, 1);
  EXPECT_EQ(StoredParents(), std::vector<std::string>{"B"});
  // The first attempt's cascade was rolled back and done again once.
  EXPECT_EQ(StoredChildren(), (std::vector<Child>{{4, "B"}}));

  // Answered No: the failure is returned and everything stays.
  backend_->ClearTranscript();
  ReadParent("B");
  parent_->failDeletes = 1;
  backend_->PushAnswer(rt::kButtonOk);
  backend_->PushAnswer(rt::kButtonNo);
  EXPECT_EQ(parentRel_.Delete(false), LevelNotify);
  EXPECT_EQ(StoredParents(), std::vector<std::string>{"B"});
  EXPECT_EQ(StoredChildren(), (std::vector<Child>{{4, "B"}}));
}

// ---- Transactions ----

TEST_F(RelationManagerTest, InsertIsFramedOnlyWhenAskedTo) {
  ASSERT_EQ(parentRel_.Open(), LevelQuiet);
  parent_->Field(1).SetText("C");
  EXPECT_EQ(parentRel_.Insert(), LevelQuiet);
  EXPECT_EQ(parentCount_.starts, 0);

  parentRel_.UseLogoutOnInsert = 1;
  parent_->Field(1).SetText("D");
  EXPECT_EQ(parentRel_.Insert(), LevelQuiet);
  EXPECT_EQ(parentCount_.starts, 1);
  EXPECT_EQ(parentCount_.commits, 1);

  // A duplicate is rolled back and reported once.
  parent_->Field(1).SetText("A");
  EXPECT_EQ(parentRel_.Insert(), LevelAsk);
  EXPECT_EQ(Captions(), std::vector<std::string>{"Duplicate Key Error"});
  EXPECT_EQ(parentCount_.rollbacks, 1);
  EXPECT_EQ(StoredParents(), (std::vector<std::string>{"A", "B", "C", "D"}));
  static_cast<void>(parentRel_.Close());
}

TEST_F(RelationManagerTest, DriverWithoutTransactionsSilentlyTurnsFramingOff) {
  { std::ofstream("raw.dat") << "aaaaaaaabbbbbbbb"; }
  rt::RecordLayout layout("Raw");
  layout.AddField("RAW:Text", rt::FieldType::String, 8);
  rt::File raw("RAWDATA", "RAW", "RAW", std::move(layout));
  raw.SetName("raw.dat");
  TableManager manager(raw, errors_);
  TableRelations relations;
  relations.Init(manager, 1);
  ASSERT_EQ(relations.Open(), LevelQuiet);
  ASSERT_EQ(manager.ReadNext(), LevelQuiet);
  EXPECT_EQ(manager.Text(1), "aaaaaaaa");
  manager.Field(1).SetText("cccccccc");
  EXPECT_EQ(relations.Update(), LevelQuiet);
  EXPECT_EQ(relations.UseLogout, 0);
  EXPECT_TRUE(Captions().empty());
  static_cast<void>(relations.Close());
  relations.Kill();
  std::ifstream in("raw.dat");
  std::string contents;
  std::getline(in, contents);
  EXPECT_EQ(contents, "ccccccccbbbbbbbb");
}

}  // namespace
