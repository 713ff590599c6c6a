// SPDX-License-Identifier: GPL-3.0-or-later
// The document table: its managers on each thread, auto-numbering, creation of a missing
// table and the copy of a file into the document BLOB, on a real STORE table in a temporary
// folder.

#include "app/DemoData.h"
#include "support/TestDriver.h"
#include "support/WorkDir.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <optional>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <latch>
#include <string>
#include <thread>

#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/LoadBlobFromFile.h"
#include "framework/data/FileOpenRegistry.h"
#include "framework/data/ThreadFileMap.h"
#include "framework/error/ErrorHooks.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/HeadlessBackend.h"

namespace {

namespace fs = std::filesystem;

std::string DataFile(const char* name) {
  return std::string(TEST_DATA_DIR) + "/" + name;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Counts the byte-position reads of a file.
class ReadCounter : public rt::FileCallback {
 public:
  int OnOperationStart(int, rt::FileCallbackParams&) override { return 1; }
  int OnOperationEnd(int code, rt::FileCallbackParams&) override {
    if (code == rt::kOpGetByPointer) ++reads;
    return 1;
  }
  int reads = 0;
};

class DemoDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("demo-data");
    ASSERT_TRUE(work_->Ok());
    dir_ = work_->Path();
    backend_ = rt::InstallHeadlessBackend();
    rt::ClearError();
    StartGlobalErrors();
    CreateDemoDataManagers();
  }
  void TearDown() override {
    ReleaseDemoDataManagers();
    DestroyDemoData();
    DestroyInFile();
    work_.reset();
  }

  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (auto& request : backend_->Transcript())
      if (request.kind == "message") captions.push_back(request.caption);
    return captions;
  }

  // Adds a document record through the managers; returns its DEM:ID.
  std::int32_t AddDocument(const std::string& name) {
    EXPECT_EQ(DemoDataFileManagerRef()->PrepareRecord(), LevelQuiet);
    SetDemoDataFileName(name);
    EXPECT_EQ(DemoDataRelationManagerRef()->Insert(), LevelQuiet);
    return DemoDataId();
  }

  std::optional<testing_support::WorkDir> work_;
  fs::path dir_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
};

TEST_F(DemoDataTest, RecordLayoutAndManagersOfTheThread) {
  EXPECT_EQ(DemoDataLayout().Size(), kDemoDataRecordSize);
  EXPECT_EQ(DemoDataLayout().Field(kDemoDataIdField).picture, "n-14");
  EXPECT_EQ(DemoDataLayout().Field(kDemoDataFileNameField).size, 80u);
  EXPECT_EQ(DemoData().Label(), "DEMODATA");
  EXPECT_EQ(DemoData().FindBlob("DEM:DataBlob"), kDemoDataBlob);

  DemoDataFileManager* files = DemoDataFileManagerRef();
  DemoDataRelationManager* relations = DemoDataRelationManagerRef();
  ASSERT_NE(files, nullptr);
  ASSERT_NE(relations, nullptr);
  EXPECT_EQ(relations->Me, files);
  EXPECT_EQ(relations->UseLogout, 1);
  EXPECT_EQ(files->File, &DemoData());
  EXPECT_EQ(ThreadFileMap::Current().FindRelationManager(ThreadFileMap::LabelOf(*files)),
            relations);

  // The form's recall copy starts blank.
  EXPECT_EQ(rt::ReadInteger(DemoDataLayout().Field(kDemoDataIdField), DemoDataRecall()), 0);
  EXPECT_EQ(
      rt::ClipText(rt::ReadText(DemoDataLayout().Field(kDemoDataFileNameField), DemoDataRecall())),
      "");

  ReleaseDemoDataManagers();
  EXPECT_EQ(DemoDataFileManagerRef(), nullptr);
  EXPECT_EQ(DemoDataRelationManagerRef(), nullptr);
  EXPECT_EQ(ThreadFileMap::Current().RelationMapping.size(), 0u);
  ReleaseDemoDataManagers();  // nothing left to release
}

TEST_F(DemoDataTest, MissingTableIsCreatedAndTheFirstInsertGetsNumberOne) {
  const bool localTable = !testing_support::OnServer();  // a table on the server has no file
  ASSERT_FALSE(fs::exists("DEMODATA.sqlite"));
  DemoDataRelationManager& relations = *DemoDataRelationManagerRef();
  ASSERT_EQ(relations.Open(), LevelQuiet);
  EXPECT_EQ(fs::exists("DEMODATA.sqlite"), localTable);

  EXPECT_EQ(AddDocument("first.pdf"), 1);
  EXPECT_EQ(AddDocument("second.pdf"), 2);
  // An insert without a prepared record numbers it as well.
  DemoData().ClearRecord();
  SetDemoDataFileName("third.pdf");
  EXPECT_EQ(relations.Insert(), LevelQuiet);
  EXPECT_EQ(DemoDataId(), 3);
  EXPECT_TRUE(Captions().empty());

  DemoDataFileManager& files = *DemoDataFileManagerRef();
  ASSERT_EQ(files.Keys->size(), 1u);
  EXPECT_EQ((*files.Keys)[0].Description, "DEM:ID_Key");
  EXPECT_EQ((*files.Keys)[0].AutoInc, 1);
  EXPECT_EQ(files.GetFileName(), "DemoData");
  EXPECT_EQ(files.LockRecover, 10);

  // A cancelled insert removes its pre-added record through the relation manager.
  ASSERT_EQ(files.PrepareRecord(), LevelQuiet);
  EXPECT_EQ(DemoDataId(), 4);
  EXPECT_EQ(relations.CancelAutoNumber(), LevelQuiet);
  EXPECT_FALSE(files.AutoIncDone);
  static_cast<void>(DemoData().SetFromValues(DemoDataIdKey()));
  std::vector<std::int32_t> ids;
  ASSERT_EQ(DemoData().Set(DemoDataIdKey()), 0);
  while (files.TryReadNext() == LevelQuiet)
    ids.push_back(DemoDataId());
  EXPECT_EQ(ids, (std::vector<std::int32_t>{1, 2, 3}));
  static_cast<void>(relations.Close());
}

TEST_F(DemoDataTest, LoadBlobFromFileCopiesInWholeReadsAndKeepsTheBlobOnEmptyInput) {
  DemoDataRelationManager& relations = *DemoDataRelationManagerRef();
  ASSERT_EQ(relations.Open(), LevelQuiet);
  AddDocument("already there.pdf");
  ASSERT_EQ(DemoDataFileManagerRef()->PrepareRecord(), LevelQuiet);
  rt::File& table = DemoData();
  ASSERT_EQ(table.SetBlobContents(kDemoDataBlob, "earlier bytes"), 0);
  std::string blob;

  EXPECT_EQ(LoadBlobFromFile(table, kDemoDataBlob, ""), rt::kBadNameError);
  EXPECT_EQ(LoadBlobFromFile(table, kDemoDataBlob, "   "), rt::kBadNameError);
  EXPECT_EQ(LoadBlobFromFile(table, kDemoDataBlob, DataFile("empty.pdf")), rt::kBadNameError);
  static_cast<void>(table.GetBlobContents(kDemoDataBlob, blob));
  EXPECT_EQ(blob, "earlier bytes");

  const int missing = LoadBlobFromFile(table, kDemoDataBlob, "no-such-file.pdf");
  EXPECT_EQ(missing, rt::kNoFileError);
  EXPECT_EQ(rt::ErrorCode(), missing);
  static_cast<void>(table.GetBlobContents(kDemoDataBlob, blob));
  EXPECT_EQ(blob, "earlier bytes");

  ReadCounter counter;
  InFile().AddCallback(counter);
  EXPECT_EQ(LoadBlobFromFile(table, kDemoDataBlob, DataFile("size-32768.pdf")), 0);
  EXPECT_EQ(counter.reads, 1);
  EXPECT_EQ(InFile().Option("FILEBUFFERS"), "64");
  EXPECT_FALSE(InFile().IsOpen());
  static_cast<void>(table.GetBlobContents(kDemoDataBlob, blob));
  EXPECT_EQ(blob, Contents(DataFile("size-32768.pdf")));

  counter.reads = 0;
  const std::string path = DataFile("size-32769.pdf");
  EXPECT_EQ(LoadBlobFromFile(table, kDemoDataBlob, path + "  "), 0);  // padded like DEM:FileName
  EXPECT_EQ(counter.reads, 2);
  InFile().RemoveCallback(counter);

  // The bytes reach the table with the record's update, exactly.
  SetDemoDataFileName(path);
  ASSERT_EQ(relations.Insert(), LevelQuiet);

  const std::int32_t id = DemoDataId();
  table.ClearRecord();
  SetDemoDataId(id);
  ASSERT_EQ(DemoDataFileManagerRef()->TryFetchByKey(DemoDataIdKey()), LevelQuiet);
  static_cast<void>(table.GetBlobContents(kDemoDataBlob, blob));
  EXPECT_EQ(blob, Contents(path));
  EXPECT_EQ(rt::ClipText(DemoDataFileName()), path);
  EXPECT_TRUE(Captions().empty());
  static_cast<void>(relations.Close());
}

// Changes the file being imported right after its first read.
class FileChanger : public rt::FileCallback {
 public:
  explicit FileChanger(std::function<void()> change) : change_(std::move(change)) {}
  int OnOperationStart(int, rt::FileCallbackParams&) override { return 1; }
  int OnOperationEnd(int code, rt::FileCallbackParams&) override {
    if (code == rt::kOpGetByPointer && !done_) {
      done_ = true;
      change_();
    }
    return 1;
  }

 private:
  std::function<void()> change_;
  bool done_ = false;
};

TEST_F(DemoDataTest, ImportOfAFileThatChangesWhileReadFailsAndKeepsTheBlob) {
  DemoDataRelationManager& relations = *DemoDataRelationManagerRef();
  ASSERT_EQ(relations.Open(), LevelQuiet);
  ASSERT_EQ(DemoDataFileManagerRef()->PrepareRecord(), LevelQuiet);
  rt::File& table = DemoData();
  const std::string path = (dir_ / "changing.pdf").string();
  const std::string original(70000, 'a');
  auto rewrite = [&](const std::string& contents) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
  };
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"grows", [&] { std::ofstream(path, std::ios::binary | std::ios::app) << "more"; }},
      {"shrinks", [&] { fs::resize_file(path, 40000); }},
      {"is rewritten",
       [&] {
         std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a later time stamp
         rewrite(std::string(70000, 'b'));
       }},
  };
  for (const auto& [what, change] : changes) {
    rewrite(original);
    ASSERT_EQ(table.SetBlobContents(kDemoDataBlob, "earlier bytes"), 0);
    FileChanger changer(change);
    InFile().AddCallback(changer);
    const int result = LoadBlobFromFile(table, kDemoDataBlob, path);
    InFile().RemoveCallback(changer);
    EXPECT_NE(result, 0) << what;
    EXPECT_EQ(rt::ErrorCode(), result) << what;
    std::string blob;
    static_cast<void>(table.GetBlobContents(kDemoDataBlob, blob));
    EXPECT_EQ(blob, "earlier bytes") << what;
  }
  // A NUL in the name would import another file.
  rewrite(original);
  EXPECT_EQ(LoadBlobFromFile(table, kDemoDataBlob, path + std::string(1, '\0') + "x"),
            rt::kBadNameError);
  std::string blob;
  static_cast<void>(table.GetBlobContents(kDemoDataBlob, blob));
  EXPECT_EQ(blob, "earlier bytes");
  // Unchanged, it imports.
  EXPECT_EQ(LoadBlobFromFile(table, kDemoDataBlob, path), 0);
  static_cast<void>(table.GetBlobContents(kDemoDataBlob, blob));
  EXPECT_EQ(blob, original);
  static_cast<void>(relations.Close());
}

// Runs a program with the application's table hooks; its main thread is runtime thread 1.
TEST(DemoDataThreads, EachThreadHasItsOwnManagersAndPosition) {
  testing_support::WorkDir work("demo-data-threads");
  ASSERT_TRUE(work.Ok());
  auto backend = rt::InstallHeadlessBackend();
  rt::ClearHooks();
  RegisterErrorHooks();
  RegisterFileRegistryHooks();
  RegisterDemoDataFileHooks();
  RegisterDemoDataManagerHooks();

  std::atomic<bool> mainHadNone{false};
  std::atomic<bool> distinct{true};
  std::atomic<int> firstA{0}, firstB{0}, secondA{0}, secondB{0};
  std::atomic<bool> mainReleased{false};
  std::thread program([&] {
    rt::RunProgram([&] {
      StartGlobalErrors();
      mainHadNone = DemoDataRelationManagerRef() == nullptr;
      CreateDemoDataManagers();
      DemoDataRelationManager* mainManager = DemoDataRelationManagerRef();
      const rt::View* mainView = &DemoDataView();
      static_cast<void>(mainManager->Open());
      for (int i = 0; i < 3; ++i) {
        static_cast<void>(DemoDataFileManagerRef()->PrepareRecord());
        static_cast<void>(mainManager->Insert());
      }
      static_cast<void>(mainManager->Close());

      std::latch firstReads(2);
      std::latch done(2);
      auto reader = [&](std::atomic<int>& first, std::atomic<int>& second, int skip) {
        DemoDataRelationManager* mine = DemoDataRelationManagerRef();
        if (!mine || mine == mainManager || &DemoData() == mainManager->Me->File) {
          distinct = false;
        }
        // The browse's view too is the thread's own, over the thread's own record.
        if (&DemoDataView() == mainView || &DemoDataView() != &DemoDataView() ||
            &DemoDataView().Primary() != &DemoData()) {
          distinct = false;
        }
        if (mine) {
          static_cast<void>(mine->Open());
          static_cast<void>(DemoData().Set(DemoDataIdKey()));
          for (int i = 0; i < skip; ++i)
            static_cast<void>(mine->Me->TryReadNext());
          static_cast<void>(mine->Me->TryReadNext());
          first = DemoDataId();
          firstReads.arrive_and_wait();  // both positioned before either moves on
          static_cast<void>(mine->Me->TryReadNext());
          second = DemoDataId();
          static_cast<void>(mine->Close());
        }
        done.count_down();
      };
      rt::Start([&](const std::vector<std::string>&) { reader(firstA, secondA, 0); });
      rt::Start([&](const std::vector<std::string>&) { reader(firstB, secondB, 1); });
      done.wait();
    });
    mainReleased = DemoDataRelationManagerRef() == nullptr;
  });
  program.join();
  rt::ClearHooks();

  EXPECT_TRUE(mainHadNone);  // thread 1's managers come from program main
  EXPECT_TRUE(distinct);
  EXPECT_EQ(firstA, 1);
  EXPECT_EQ(firstB, 2);
  EXPECT_EQ(secondA, 2);
  EXPECT_EQ(secondB, 3);
  EXPECT_TRUE(mainReleased);  // the thread-end hook released them
}

}  // namespace
