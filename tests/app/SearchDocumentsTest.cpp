// SPDX-License-Identifier: GPL-3.0-or-later
// Full-text search over the stored documents: the search window from the frame's menu over
// documents stored, changed and deleted through the program; the indexer on documents it
// cannot read; an indexing killed part-way that resumes; queries the index cannot take.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <thread>

#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/Globals.h"
#include "app/MainFrame.h"
#include "app/SearchDocuments.h"
#include "app/Startup.h"
#include "app/TextIndexer.h"
#include "app/UpdateData.h"
#include "app/ViewBlob.h"
#include "framework/error/ErrorHooks.h"
#include "framework/window/RequestCodes.h"
#include "pdf/PdfTestWriter.h"
#include "platform/pdf/PdfEngine.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/Text.h"
#include "platform/runtime/windows/Events.h"
#include "platform/store/Store.h"
#include "support/OtherProcess.h"
#include "support/Robot.h"
#include "support/SurfaceRecorder.h"
#include "support/TestDriver.h"
#include "support/WorkDir.h"

namespace {

namespace fs = std::filesystem;
using pdftest::PdfTestWriter;
using testing_support::Robot;

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::unique_ptr<rt::TextIndex> OpenIndex() {
  std::unique_ptr<rt::TextIndex> index;
  EXPECT_EQ(TextIndexer::OpenIndex(index), 0);
  return index;
}

// Waits until every document of the table is indexed at its current version.
bool WaitIndexed(rt::TextIndex& index, std::int64_t documents) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  rt::TextProgress progress;
  while (std::chrono::steady_clock::now() < until) {
    if (index.Progress(progress) == 0 && progress.documents == documents &&
        progress.done == documents)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::vector<rt::TextHit> Find(rt::TextIndex& index, const std::string& word) {
  std::vector<rt::TextHit> hits;
  EXPECT_EQ(index.Search({rt::TextTerm{{word}, false}}, 1000, hits), 0);
  return hits;
}

// Stores documents straight into the table (the calling thread's record), as (name, bytes).
void StoreRaw(const std::vector<std::pair<std::string, std::string>>& documents) {
  rt::RegisterStoreDriver();
  rt::File& table = DemoData();
  ASSERT_EQ(table.Create(), 0);
  ASSERT_EQ(table.Open(), 0);
  int id = 0;
  for (const auto& [name, bytes] : documents) {
    SetDemoDataId(++id);
    SetDemoDataFileName(name);
    ASSERT_EQ(table.SetBlobContents(kDemoDataBlob, bytes), 0);
    ASSERT_EQ(table.Add(), 0);
  }
  ASSERT_EQ(table.Close(), 0);
}

class SearchDocumentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("search-documents");
    ASSERT_TRUE(work_->Ok());
  }
  void TearDown() override {
    DestroyDemoData();
    work_.reset();
  }

  fs::path File(const char* name) const { return work_->Path() / name; }

  std::optional<testing_support::WorkDir> work_;
};

class SearchWindowTest : public SearchDocumentsTest {
 protected:
  void SetUp() override {
    SearchDocumentsTest::SetUp();
    rt::ClearHooks();
    backend_ = rt::InstallHeadlessBackend();
    surfaces_.emplace();
    RegisterApplicationHooks();
    program_ = std::thread([] { rt::RunProgram(ProgramMain); });
  }
  void TearDown() override {
    for (int thread : rt::RunningThreads())
      rt::PostCloseDown(thread);
    if (program_.joinable()) program_.join();
    surfaces_.reset();
    rt::ClearHooks();
    SearchDocumentsTest::TearDown();
  }

  // Runs the document form on a thread of its own for `request` on record `id` (0: a new
  // record), picks `file` and confirms.
  void ThroughForm(Robot& robot, std::uint8_t request, int id, const fs::path& file) {
    rt::Start([request, id](const std::vector<std::string>&) {
      static_cast<void>(DemoDataRelationManagerRef()->Open());
      if (request == InsertRecord) {
        static_cast<void>(DemoDataFileManagerRef()->PrepareRecord());
      } else {
        SetDemoDataId(id);
        static_cast<void>(DemoData().Get(DemoDataIdKey()));
      }
      GlobalRequest() = request;
      UpdateData();
      static_cast<void>(DemoDataRelationManagerRef()->Close());
    });
    const int form = robot.WaitForWindow(kUpdateDataWindow);
    ASSERT_NE(form, 0);
    ASSERT_TRUE(robot.WaitIdle());
    robot.AnswerFile(file.string());
    ASSERT_TRUE(robot.Press(form, kUpdateDataLookup));
    ASSERT_TRUE(robot.Press(form, kUpdateDataOk));
    ASSERT_TRUE(robot.WaitClosed(form));
  }

  // Types a query into the search window and runs it; the rows listed, cells without the
  // blanks their pictures pad them with.
  std::vector<std::vector<std::string>> Query(Robot& robot, int window, const std::string& text) {
    EXPECT_TRUE(robot.Type(window, kSearchDocumentsQuery, text));
    EXPECT_TRUE(robot.Press(window, kSearchDocumentsFind));
    EXPECT_TRUE(robot.WaitIdle());
    auto rows = robot.Control(window, kSearchDocumentsList)->rows;
    for (auto& row : rows)
      for (std::string& cell : row)
        cell = std::string(rt::Trim(cell, " "));
    return rows;
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& m : testing_support::MessagesOf(*backend_))
      texts.push_back(m.text);
    return texts;
  }

  std::shared_ptr<rt::HeadlessBackend> backend_;
  std::optional<testing_support::SurfaceRecorder> surfaces_;
  std::thread program_;
};

TEST_F(SearchWindowTest, FindsStoredChangedAndDeletedDocumentsAndOpensTheViewerAtTheMatch) {
  WriteFile(File("fruit.pdf"), PdfTestWriter::Simple({"alpha apple"}));
  WriteFile(File("zoo.pdf"),
            PdfTestWriter::Simple({"banana split", "zebra crossing quartz", "mango quartz"}));
  WriteFile(File("cherry.pdf"), PdfTestWriter::Simple({"cherry tree", "cherry pie"}));
  WriteFile(File("sea.pdf"), PdfTestWriter::Simple({"walrus on the shore"}));
  Robot robot(backend_);
  const int frame = robot.WaitForWindow("Pagelet Demo");
  ASSERT_NE(frame, 0);
  for (const char* name : {"fruit.pdf", "zoo.pdf", "cherry.pdf"})
    ThroughForm(robot, InsertRecord, 0, File(name));
  auto index = OpenIndex();
  ASSERT_TRUE(index && WaitIndexed(*index, 3));

  ASSERT_TRUE(robot.ChooseMenu(frame, kMainFrameSearchDocuments));
  const int search = robot.WaitForWindow(kSearchDocumentsCaption);
  ASSERT_NE(search, 0);
  ASSERT_TRUE(robot.WaitIdle());
  EXPECT_EQ(robot.Control(search, kSearchDocumentsProgress)->text, "3 of 3 documents indexed");

  // A word of page 2 of the second document, and nothing else: one row, that page, marked.
  auto rows = Query(robot, search, "crossing");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "2");
  EXPECT_NE(rows[0][1].find("zoo.pdf"), std::string::npos);
  EXPECT_EQ(rows[0][2], "2");
  EXPECT_NE(rows[0][3].find("\xC2\xBB"
                            "crossing"
                            "\xC2\xAB"),
            std::string::npos)
      << rows[0][3];

  // Enter opens the viewer on that document at the page of the match, the match highlighted.
  ASSERT_TRUE(robot.SendKey(search, kSearchDocumentsList, rt::key::kEnter));
  const int viewer = robot.WaitForWindow("Pagelet DEMO");
  ASSERT_NE(viewer, 0);
  ASSERT_TRUE(robot.WaitIdle());
  const auto engine = surfaces_->Engine(viewer, kViewBlobRegion);
  ASSERT_TRUE(engine);
  EXPECT_EQ(engine->PageCount(), 3);
  EXPECT_EQ(engine->View().CurrentPage(), 1);
  ASSERT_GE(engine->CurrentMatch(), 0);
  EXPECT_EQ(engine->Matches()[engine->CurrentMatch()].page, 1);
  EXPECT_TRUE(engine->Highlight());
  ASSERT_TRUE(robot.CloseWindow(viewer));
  ASSERT_TRUE(robot.WaitClosed(viewer));
  // So does a double click on the row.
  ASSERT_TRUE(robot.DoubleClickRow(search, kSearchDocumentsList, 1));
  const int again = robot.WaitForWindow("Pagelet DEMO");
  ASSERT_NE(again, 0);
  ASSERT_TRUE(robot.CloseWindow(again));
  ASSERT_TRUE(robot.WaitClosed(again));

  // A word on two pages lists both; a prefix and a phrase find what they should.
  EXPECT_EQ(Query(robot, search, "quartz").size(), 2u);
  EXPECT_EQ(Query(robot, search, "cher*").size(), 2u);
  EXPECT_EQ(Query(robot, search, "\"cherry pie\"").size(), 1u);
  EXPECT_EQ(Query(robot, search, "\"pie cherry\"").size(), 0u);

  // A change replaces the document's entries: the old words are gone, the new ones found.
  ThroughForm(robot, ChangeRecord, 2, File("sea.pdf"));
  EXPECT_TRUE(Find(*index, "quartz").empty());  // at once, whether or not indexed again yet
  ASSERT_TRUE(WaitIndexed(*index, 3));
  EXPECT_TRUE(Find(*index, "quartz").empty());
  EXPECT_EQ(Query(robot, search, "quartz").size(), 0u);
  rows = Query(robot, search, "walrus");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "2");
  EXPECT_EQ(rows[0][2], "1");

  // A delete removes them.
  rt::Start([](const std::vector<std::string>&) {
    static_cast<void>(DemoDataRelationManagerRef()->Open());
    SetDemoDataId(1);
    if (DemoData().Get(DemoDataIdKey()) == 0) static_cast<void>(DemoData().Delete());
    static_cast<void>(DemoDataRelationManagerRef()->Close());
  });
  ASSERT_TRUE(WaitIndexed(*index, 2));
  EXPECT_TRUE(Find(*index, "apple").empty());
  EXPECT_EQ(Query(robot, search, "apple").size(), 0u);
  EXPECT_EQ(robot.Control(search, kSearchDocumentsProgress)->text, "2 of 2 documents indexed");

  // Queries the index cannot take are explained, and nothing is listed.
  const std::size_t before = Messages().size();
  EXPECT_EQ(Query(robot, search, "\"unbalanced walrus").size(), 0u);
  EXPECT_EQ(Query(robot, search, "?!* ... \"\" ---").size(), 0u);
  const std::vector<std::string> messages = Messages();
  ASSERT_GE(messages.size(), before + 2);
  EXPECT_NE(messages[before].find("closing double quote"), std::string::npos);
  EXPECT_NE(messages[before + 1].find("nothing to search for"), std::string::npos);
  EXPECT_EQ(Query(robot, search, "AND OR NOT NEAR(x) walrus*").size(), 0u);  // words, no syntax
  ASSERT_TRUE(robot.Press(search, kSearchDocumentsClose));
  EXPECT_TRUE(robot.WaitClosed(search));
}

TEST_F(SearchDocumentsTest, UnreadableDocumentsAreMarkedOnceAndNotRetried) {
  std::string truncated = PdfTestWriter::Simple({"lost words"});
  truncated.resize(truncated.size() / 2);
  std::vector<pdftest::TestPage> blank(2);  // pages without any text
  StoreRaw({{"good.pdf", PdfTestWriter::Simple({"plain words", "more words"})},
            {"blank.pdf", PdfTestWriter::Build(blank)},
            {"locked.pdf", PdfTestWriter::Build({{{"secret words"}}}, PdfTestWriter::Encrypted())},
            {"cut.pdf", truncated},
            {"notes.txt", "not a document at all"},
            {"empty.pdf", ""}});
  auto index = OpenIndex();
  ASSERT_TRUE(index);
  ASSERT_EQ(TextIndexer::IndexPending(*index, [] { return false; }), 0);
  rt::TextProgress progress;
  ASSERT_EQ(index->Progress(progress), 0);
  EXPECT_EQ(progress.documents, 6);
  EXPECT_EQ(progress.done, 6);
  EXPECT_EQ(progress.withoutText, 5);
  EXPECT_EQ(Find(*index, "words").size(), 2u);  // both pages of the readable one
  EXPECT_TRUE(Find(*index, "secret").empty());
  // Marked, so nothing is left to do and a later start tries none of them again.
  std::vector<rt::TextWork> work;
  ASSERT_EQ(index->Pending(100, work), 0);
  EXPECT_TRUE(work.empty());
  index.reset();
  index = OpenIndex();
  int documents = 0;
  ASSERT_EQ(TextIndexer::IndexPending(
                *index, [] { return false; }, [&] { ++documents; }),
            0);
  EXPECT_EQ(documents, 0);
}

TEST_F(SearchDocumentsTest, IndexingKilledPartWayResumesWithEveryPageOnce) {
  constexpr int kPages = 300;
  // Forked before this process starts any thread; it indexes slowly until it is killed.
  testing_support::OtherProcess other([](std::string_view command) {
    if (command != "index") return false;
    std::thread([] {
      auto index = OpenIndex();
      if (!index) return;
      static_cast<void>(TextIndexer::IndexPending(*index, [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        return false;
      }));
    }).detach();
    return true;
  });
  ASSERT_TRUE(other.Started());
  std::vector<std::string> texts;
  for (int page = 0; page < kPages; ++page)
    texts.push_back("common w" + std::to_string(page) + "x");
  StoreRaw({{"long.pdf", PdfTestWriter::Simple(texts)}});
  auto index = OpenIndex();
  ASSERT_TRUE(index);
  ASSERT_TRUE(other.Do("index"));
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Find(*index, "common").size() < 20 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  other.Kill();
  // The document is left to this client once the killed one's session is gone.
  std::vector<rt::TextWork> work;
  do {
    ASSERT_EQ(index->Pending(10, work), 0);
  } while (work.empty() && std::chrono::steady_clock::now() < until);
  ASSERT_EQ(work.size(), 1u) << "the indexing ended before it was killed";
  const int resumedAt = work[0].nextPage;
  EXPECT_GE(resumedAt, 20);
  EXPECT_LT(resumedAt, kPages);
  EXPECT_EQ(Find(*index, "common").size(), static_cast<std::size_t>(resumedAt));

  ASSERT_EQ(TextIndexer::IndexPending(*index, [] { return false; }), 0);
  ASSERT_TRUE(WaitIndexed(*index, 1));
  const std::vector<rt::TextHit> all = Find(*index, "common");
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kPages));
  std::map<int, int> pages;
  for (const rt::TextHit& hit : all)
    ++pages[hit.page];
  EXPECT_EQ(pages.size(), static_cast<std::size_t>(kPages));
  EXPECT_EQ(pages.begin()->first, 0);
  EXPECT_EQ(pages.rbegin()->first, kPages - 1);
  for (int page : {0, resumedAt - 1, resumedAt, kPages - 1}) {
    const auto hits = Find(*index, "w" + std::to_string(page) + "x");
    ASSERT_EQ(hits.size(), 1u) << page;
    EXPECT_EQ(hits[0].page, page);
  }
}

}  // namespace
