// SPDX-License-Identifier: GPL-3.0-or-later
// Full-text search over the stored documents: the search window from the frame's menu over
// documents stored, changed and deleted through the program; the indexer on documents it
// cannot read; an indexing killed part-way that resumes; queries the index cannot take.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
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
#include "platform/pgstore/PgStore.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/Text.h"
#include "platform/runtime/windows/Events.h"
#include "platform/store/Store.h"
#include "support/OtherProcess.h"
#include "support/PgServer.h"
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

// Indexes every pending record of `index` with the given page texts (record -> pages), two
// calls of AddPages each, as the indexer does with the pages it reads.
void IndexTexts(rt::TextIndex& index,
                const std::map<std::int64_t, std::vector<std::string>>& texts) {
  std::vector<rt::TextWork> work;
  ASSERT_EQ(index.Pending(100, work), 0);
  ASSERT_EQ(work.size(), texts.size());
  for (const rt::TextWork& item : work) {
    const std::vector<std::string>& pages = texts.at(item.record);
    int next = -1;
    ASSERT_EQ(index.BeginDocument(item.record, item.version, next), 0);
    ASSERT_EQ(next, 0);
    const auto half = static_cast<std::ptrdiff_t>(pages.size() / 2);
    ASSERT_EQ(index.AddPages(item.record, item.version, 0, {pages.begin(), pages.begin() + half}),
              0);
    ASSERT_EQ(index.AddPages(item.record, item.version, static_cast<int>(half),
                             {pages.begin() + half, pages.end()}),
              0);
    ASSERT_EQ(index.FinishDocument(item.record, item.version, rt::TextState::Indexed), 0);
  }
}

// Runs the indexer's passes until one ends with nothing left (another client taking every
// document of a batch ends a pass early); false when that does not happen.
bool IndexUntilDone(rt::TextIndex& index, const std::function<bool()>& stop) {
  for (int pass = 0; pass < 100; ++pass) {
    const int e = TextIndexer::IndexPending(index, stop);
    if (e == 0) return true;
    if (e != rt::kRecordChangedError) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// Waits until the index says the table or its index changed.
bool WaitChanged(rt::TextIndex& index) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!index.Changed()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Runs `steps` on the calling thread's document table, opened.
void OnTable(const std::function<void(rt::File&)>& steps) {
  rt::File& table = DemoData();
  ASSERT_EQ(table.Open(), 0);
  steps(table);
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
  // On the server the other client holds the document while it indexes it: this one leaves it
  // out, and looks again now and then, so that it takes it up once the other is gone.
  if (testing_support::OnServer()) {
    std::vector<rt::TextWork> held;
    ASSERT_EQ(index->Pending(10, held), 0);
    EXPECT_TRUE(held.empty());
    static_cast<void>(index->Changed());
  }
  other.Kill();
  if (testing_support::OnServer()) {
    EXPECT_TRUE(WaitChanged(*index));
  }
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

TEST_F(SearchDocumentsTest, TheSameSearchGivesTheSameAnswersOnBothDrivers) {
  std::string why;
  const testing_support::PgServer* server = testing_support::PgServer::Shared(&why);
  ASSERT_TRUE(server) << why;
  ASSERT_TRUE(server->Clear());
  rt::RegisterPgDriver(server->Conninfo());
  std::string filler;
  for (int i = 0; i < 40; ++i)
    filler += "word" + std::to_string(i % 7) + (i % 9 == 8 ? ". " : " ");
  const std::string longWord(600, 'k');
  std::string huge;  // megabytes of text on one page, its words' places in several statements
  for (int i = 0; i < 600000; ++i)
    huge += "w" + std::to_string(i % 50000) + " ";
  const std::map<std::int64_t, std::vector<std::string>> texts = {
      {1,
       {"Caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
        "e. NA\xC3\x8FVE fa\xC3\xA7"
        "ade",
        "The QUICK brown fox; the quick dog: quick-silver e-mail 3.14 x86_64",
        filler + "needle " + filler + "needle in the hay"}},
      {2,
       {std::string("nul\0byte inside quick", 21), "\xFF\xFE broken \xC3 words caf\xC3", "",
        "... !!! ---", "\xC2\xAB\xC2\xBB"}},
      {3,
       {longWord + " tail", longWord + "z apple", "apple apple banana apple", huge, "apple banana",
        std::string("\xCE\x91\xCE\x98\xCE\x97\xCE\x9D\xCE\x91 ") +
            "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"}},
  };
  const std::vector<std::vector<rt::TextTerm>> queries = {
      {{{"quick"}, false}},
      {{{"QUICK"}, false}, {{"brown"}, false}},
      {{{"cafe"}, false}},
      {{{"creme",
         "br\xC3\xBBl\xC3\xA9"
         "e"},
        false}},
      {{{"qu"}, true}},
      {{{"the", "quick"}, false}},
      {{{"quick", "the"}, false}},
      {{{"brown", "f"}, true}},
      {{{"apple"}, false}, {{"banana"}, false}},
      {{{"apple"}, false}, {{"apple"}, false}},
      {{{longWord}, false}},
      {{{longWord}, true}},
      {{{"kkk"}, true}},
      {{{"\xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0"}, false}},
      {{{"nul"}, false}, {{"byte"}, false}},
      {{{"broken"}, false}},
      {{{"needle"}, false}},
      {{{"word3"}, false}},
      {{{"e"}, true}},
      {{{"x86"}, false}, {{"14"}, false}},
      {{{"\xC2\xAB\xC2\xBB"}, false}},
      {{{"\xC2\xAB\xC2\xBB"}, false}, {{"apple"}, false}},
      {{{"nothing"}, false}},
      {{{"w49999"}, false}},
      {{{"w4999"}, true}},
  };
  std::vector<std::vector<rt::TextHit>> answers[2];
  const std::string drivers[2] = {rt::kStoreDriverName, rt::kPgDriverName};
  for (int d = 0; d < 2; ++d) {
    ChooseDemoDataDriver(drivers[d]);
    StoreRaw({{"a.pdf", "1"}, {"b.pdf", "2"}, {"c.pdf", "3"}});
    auto index = OpenIndex();
    ASSERT_TRUE(index);
    IndexTexts(*index, texts);
    for (const auto& query : queries) {
      for (std::size_t limit : {std::size_t{1000}, std::size_t{2}}) {
        std::vector<rt::TextHit> hits;
        EXPECT_EQ(index->Search(query, limit, hits), 0);
        answers[d].push_back(std::move(hits));
      }
    }
    rt::TextProgress progress;
    ASSERT_EQ(index->Progress(progress), 0);
    EXPECT_EQ(progress.done, 3);
    index.reset();
    DestroyDemoData();
  }
  ChooseDemoDataDriver(testing_support::TestDriver());
  ASSERT_EQ(answers[0].size(), answers[1].size());
  std::size_t found = 0;
  for (std::size_t q = 0; q < answers[0].size(); ++q) {
    const auto& local = answers[0][q];
    const auto& remote = answers[1][q];
    ASSERT_EQ(local.size(), remote.size()) << "query " << q / 2;
    found += local.size();
    for (std::size_t i = 0; i < local.size(); ++i) {
      EXPECT_EQ(local[i].record, remote[i].record) << "query " << q / 2 << " hit " << i;
      EXPECT_EQ(local[i].page, remote[i].page) << "query " << q / 2 << " hit " << i;
      EXPECT_EQ(local[i].snippet, remote[i].snippet) << "query " << q / 2 << " hit " << i;
      EXPECT_DOUBLE_EQ(local[i].rank, remote[i].rank) << "query " << q / 2 << " hit " << i;
    }
  }
  EXPECT_GT(found, 30u);  // the queries found something to compare

  // No table on the server yet, or no server: 2, as for a missing file, the password unsaid.
  ASSERT_TRUE(server->Clear());
  ChooseDemoDataDriver(rt::kPgDriverName);
  std::unique_ptr<rt::TextIndex> index;
  EXPECT_EQ(TextIndexer::OpenIndex(index), rt::kNoFileError);
  rt::RegisterPgDriver("host=/nonexistent/folder dbname=nowhere user=pgtest password=sekrit7");
  EXPECT_EQ(TextIndexer::OpenIndex(index), rt::kNoFileError);
  EXPECT_FALSE(index);
  EXPECT_EQ(rt::FileErrorText().find("sekrit7"), std::string::npos) << rt::FileErrorText();
  EXPECT_FALSE(rt::FileErrorText().empty());
  rt::RegisterPgDriver(server->Conninfo());
  ChooseDemoDataDriver(testing_support::TestDriver());
  DestroyDemoData();
}

TEST_F(SearchDocumentsTest, TwoClientsIndexOneTableAtOnceWithEveryPageOnce) {
  constexpr int kDocuments = 10;
  constexpr int kPages = 3;
  std::vector<std::pair<std::string, std::string>> documents;
  for (int d = 1; d <= kDocuments; ++d) {
    std::vector<std::string> pages;
    for (int p = 1; p <= kPages; ++p)
      pages.push_back("shared d" + std::to_string(d) + "p" + std::to_string(p));
    documents.emplace_back("doc" + std::to_string(d) + ".pdf", PdfTestWriter::Simple(pages));
  }
  StoreRaw(documents);
  // Opened at once: one index is made.
  std::unique_ptr<rt::TextIndex> first;
  std::thread opener([&] { first = OpenIndex(); });
  auto second = OpenIndex();
  opener.join();
  ASSERT_TRUE(first && second);
  // Both index at once, slowly enough to meet; meanwhile one document is deleted and one
  // replaced.
  auto slow = [] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return false;
  };
  bool firstDone = false;
  bool secondDone = false;
  std::thread a([&] { firstDone = IndexUntilDone(*first, slow); });
  std::thread b([&] { secondDone = IndexUntilDone(*second, slow); });
  OnTable([](rt::File& table) {
    SetDemoDataId(3);
    ASSERT_EQ(table.Get(DemoDataIdKey()), 0);
    ASSERT_EQ(table.Delete(), 0);
    SetDemoDataId(5);
    ASSERT_EQ(table.Get(DemoDataIdKey()), 0);
    ASSERT_EQ(table.SetBlobContents(kDemoDataBlob, PdfTestWriter::Simple({"shared replaced"})), 0);
    ASSERT_EQ(table.Put(), 0);
  });
  a.join();
  b.join();
  EXPECT_TRUE(firstDone && secondDone);
  // A pass started before the writes may have missed them: the index says so.
  EXPECT_TRUE(WaitChanged(*second));
  ASSERT_TRUE(IndexUntilDone(*second, [] { return false; }));
  ASSERT_TRUE(WaitIndexed(*first, kDocuments - 1));

  // Every page of every document once, nothing of the deleted one or the old version.
  const auto shared = Find(*first, "shared");
  std::set<std::pair<std::int64_t, int>> pages;
  for (const rt::TextHit& hit : shared)
    pages.emplace(hit.record, hit.page);
  EXPECT_EQ(shared.size(), static_cast<std::size_t>((kDocuments - 2) * kPages + 1));
  EXPECT_EQ(pages.size(), shared.size());
  for (int d = 1; d <= kDocuments; ++d) {
    for (int p = 1; p <= kPages; ++p) {
      const auto hits = Find(*second, "d" + std::to_string(d) + "p" + std::to_string(p));
      if (d == 3 || d == 5) {
        EXPECT_TRUE(hits.empty()) << d << " " << p;
        continue;
      }
      ASSERT_EQ(hits.size(), 1u) << d << " " << p;
      EXPECT_EQ(hits[0].record, d);
      EXPECT_EQ(hits[0].page, p - 1);
    }
  }
  ASSERT_EQ(Find(*first, "replaced").size(), 1u);
  // Nothing left to do or to remove for either client.
  for (rt::TextIndex* index : {first.get(), second.get()}) {
    int removed = -1;
    ASSERT_EQ(index->RemoveStale(100, removed), 0);
    EXPECT_EQ(removed, 0);
    std::vector<rt::TextWork> work;
    ASSERT_EQ(index->Pending(100, work), 0);
    EXPECT_TRUE(work.empty());
  }

  // A delete shows as a change to both clients; the first one's cleaning to the second one.
  static_cast<void>(first->Changed());
  static_cast<void>(second->Changed());
  OnTable([](rt::File& table) {
    SetDemoDataId(1);
    ASSERT_EQ(table.Get(DemoDataIdKey()), 0);
    ASSERT_EQ(table.Delete(), 0);
  });
  EXPECT_TRUE(WaitChanged(*first));
  EXPECT_TRUE(WaitChanged(*second));
  EXPECT_TRUE(Find(*second, "d1p1").empty());
  int removed = 0;
  ASSERT_EQ(first->RemoveStale(100, removed), 0);
  EXPECT_EQ(removed, 1);
  EXPECT_TRUE(WaitChanged(*second));
  ASSERT_EQ(second->RemoveStale(100, removed), 0);
  EXPECT_EQ(removed, 0);
}

}  // namespace
