// SPDX-License-Identifier: GPL-3.0-or-later
// The document form run directly on a thread of its own, on a real table in a temporary
// folder: any readable file picked is stored byte for byte; names the record cannot keep and
// files that cannot be read are refused with a message while the form stays usable; the
// viewer shows the stored bytes and changes nothing; the view request only shows.

#include "app/UpdateData.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/Globals.h"
#include "app/LoadBlobFromFile.h"
#include "app/Startup.h"
#include "app/ViewBlob.h"
#include "framework/error/ErrorHooks.h"
#include "framework/window/RequestCodes.h"
#include "platform/runtime/threads/Threads.h"
#include "support/Robot.h"
#include "support/TestDriver.h"
#include "support/WorkDir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Robot;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::uint64_t Hash(std::string_view bytes) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : bytes)
    h = (h ^ c) * 1099511628211ull;
  return h;
}

struct Stored {
  std::string name;
  std::string bytes;
};

class UpdateDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("update-data");
    ASSERT_TRUE(work_->Ok());
    rt::ClearHooks();
    backend_ = rt::InstallHeadlessBackend();
    RegisterApplicationHooks();
  }
  void TearDown() override {
    rt::ClearHooks();
    work_.reset();
  }

  // A copy of a test file in the working folder, under `name`.
  fs::path Place(const char* source, const fs::path& name) {
    const fs::path target = work_->Path() / name;
    fs::create_directories(target.parent_path());
    fs::copy_file(fs::path(TEST_DATA_DIR) / source, target, fs::copy_options::overwrite_existing);
    return target;
  }

  // Runs program main over a table holding `seed` (each file stored in a new record, in
  // order), runs `forms` on a thread of its own as the browse's thread runs the form, and
  // lets `drive` act as the user meanwhile. Forms left open are closed afterwards; the table
  // is then read into stored_.
  void Run(const std::vector<fs::path>& seed, const std::function<void()>& forms,
           const std::function<void(Robot&)>& drive) {
    rt::RunProgram([&] {
      StartGlobalErrors();
      CreateDemoDataManagers();
      static_cast<void>(DemoDataRelationManagerRef()->Open());
      for (const fs::path& file : seed) {
        static_cast<void>(DemoDataFileManagerRef()->PrepareRecord());
        SetDemoDataFileName(file.string());
        EXPECT_EQ(LoadBlobFromFile(DemoData(), kDemoDataBlob, file.string()), 0);
        EXPECT_EQ(DemoDataRelationManagerRef()->Insert(), LevelQuiet);
      }
      static_cast<void>(DemoDataRelationManagerRef()->Close());
      rt::Start([&](const std::vector<std::string>&) {
        static_cast<void>(DemoDataRelationManagerRef()->Open());
        forms();
        static_cast<void>(DemoDataRelationManagerRef()->Close());
      });
      Robot robot(backend_);
      drive(robot);
      for (int i = 0; i < 20 && !backend_->Windows().empty(); ++i) {
        robot.Answer(rt::kButtonYes);
        for (const rt::WindowView& w : backend_->Windows())
          robot.CloseWindow(w.id);
        robot.WaitIdle();
      }
      rt::JoinAllThreads();
      stored_ = Table();
    });
  }

  // Runs the form on the calling thread as the browse does: for an insert on a newly primed
  // record, otherwise on record `id`. Returns its response.
  static std::uint8_t Form(std::uint8_t request, std::int32_t id = 0) {
    if (request == InsertRecord) {
      static_cast<void>(DemoDataFileManagerRef()->PrepareRecord());
    } else {
      SetDemoDataId(id);
      EXPECT_EQ(DemoData().Get(DemoDataIdKey()), 0);
    }
    GlobalRequest() = request;
    UpdateData();
    return GlobalResponse();
  }

  // The next form (or viewer) under `caption`, open and idle; 0 when none came.
  static int Next(Robot& robot, const char* caption) {
    const int id = robot.WaitForWindow(caption);
    return id != 0 && robot.WaitIdle() ? id : 0;
  }

  // Runs the form for a new record while `drive` acts on it.
  std::uint8_t InsertWithForm(const std::function<void(Robot&, int)>& drive) {
    std::uint8_t response = 0;
    Run(
        {}, [&] { response = Form(InsertRecord); },
        [&](Robot& robot) {
          const int id = Next(robot, "Record Will Be Added");
          ASSERT_NE(id, 0);
          drive(robot, id);
        });
    return response;
  }

  static std::map<int, Stored> Table() {
    std::map<int, Stored> rows;
    static_cast<void>(DemoDataRelationManagerRef()->Open());
    rt::File& file = DemoData();
    static_cast<void>(file.Set(DemoDataIdKey()));
    while (file.Next() == 0) {
      Stored& row = rows[DemoDataId()];
      row.name = std::string(rt::ClipText(DemoDataFileName()));
      static_cast<void>(file.GetBlobContents(kDemoDataBlob, row.bytes));
    }
    static_cast<void>(DemoDataRelationManagerRef()->Close());
    return rows;
  }

  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const auto& m : testing_support::MessagesOf(*backend_))
      captions.push_back(m.caption);
    return captions;
  }
  int Count(const std::string& caption) const {
    const auto all = Captions();
    return static_cast<int>(std::count(all.begin(), all.end(), caption));
  }
  int FileDialogs() const {
    int n = 0;
    for (const auto& r : backend_->Transcript())
      n += r.kind == "file";
    return n;
  }

  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  std::map<int, Stored> stored_;
};

TEST_F(UpdateDataTest, InsertStoresThePickedFileByteForByte) {
  const fs::path pdf = Place("two-pages.pdf", "Dossier d'été/mon \"rapport\" ü.pdf");
  ASSERT_LE(pdf.string().size(), kDemoDataFileNameSize);
  std::string afterCancel;
  std::string picked;
  int focused = 0;
  const std::uint8_t response = InsertWithForm([&](Robot& robot, int id) {
    // The form opens with the keyboard in its first entry.
    focused = robot.Focused(id);
    // A cancelled dialog empties the name and opens no second dialog.
    robot.AnswerFile("");
    EXPECT_TRUE(robot.Press(id, kUpdateDataLookup));
    ASSERT_TRUE(robot.WaitIdle());
    afterCancel = robot.ScreenText(id, kUpdateDataFileName);
    EXPECT_EQ(FileDialogs(), 1);
    robot.AnswerFile(pdf.string());
    EXPECT_TRUE(robot.Press(id, kUpdateDataLookup));
    ASSERT_TRUE(robot.WaitIdle());
    picked = robot.ScreenText(id, kUpdateDataFileName);
    EXPECT_TRUE(robot.Press(id, kUpdateDataOk));
    EXPECT_TRUE(robot.WaitClosed(id));
  });
  EXPECT_EQ(focused, kUpdateDataId);
  EXPECT_EQ(afterCancel, "");
  EXPECT_EQ(picked, pdf.string());
  EXPECT_EQ(response, RequestCompleted);
  EXPECT_TRUE(Captions().empty());
  ASSERT_EQ(stored_.size(), 1u);
  const Stored& row = stored_.at(1);
  EXPECT_EQ(row.name, pdf.string());
  const std::string original = Contents(pdf);
  EXPECT_EQ(row.bytes.size(), original.size());
  EXPECT_EQ(Hash(row.bytes), Hash(original));
}

// Names the record cannot keep exactly and files that cannot be read are refused with a
// message while the form stays usable.
TEST_F(UpdateDataTest, NamesAndFilesThatCannotBeStoredAreRefusedAndTheFormStaysUsable) {
  const fs::path deep = Place("one-page.pdf", std::string(70, 'd') + "/long.pdf");
  const fs::path good = Place("one-page.pdf", "good.pdf");
  // Two files: the field would keep the first name as the second.
  const fs::path blank = Place("two-pages.pdf", "doc.pdf ");
  Place("one-page.pdf", "doc.pdf");
  const fs::path fifo = work_->Path() / "pipe.pdf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directories(work_->Path() / "sub");
  const fs::path unreadable[] = {Place("empty.pdf", "empty.pdf"), work_->Path() / "sub", fifo};
  const bool localTable = !testing_support::OnServer();
  std::vector<std::string> afterPick;
  std::vector<bool> stayedOpen;
  std::optional<std::map<int, Stored>> whileRefused;
  const std::uint8_t response = InsertWithForm([&](Robot& robot, int id) {
    // Too long, or ending in a blank: refused when picked; too long when typed, at OK.
    for (const fs::path& file : {deep, blank}) {
      robot.AnswerFile(file.string());
      EXPECT_TRUE(robot.Press(id, kUpdateDataLookup));
      ASSERT_TRUE(robot.WaitIdle());
      afterPick.push_back(robot.ScreenText(id, kUpdateDataFileName));
    }
    EXPECT_TRUE(robot.Type(id, kUpdateDataFileName, deep.string()));
    EXPECT_TRUE(robot.Press(id, kUpdateDataOk));
    ASSERT_TRUE(robot.WaitIdle());
    stayedOpen.push_back(robot.Window(id).has_value());
    // Files that cannot be read, and one deleted between picking and OK.
    const fs::path gone = Place("one-page.pdf", "gone.pdf");
    std::vector<fs::path> refused(std::begin(unreadable), std::end(unreadable));
    refused.push_back(gone);
    for (const fs::path& file : refused) {
      robot.AnswerFile(file.string());
      EXPECT_TRUE(robot.Press(id, kUpdateDataLookup));
      ASSERT_TRUE(robot.WaitIdle());
      if (file == gone) fs::remove(gone);
      EXPECT_TRUE(robot.Press(id, kUpdateDataOk));
      ASSERT_TRUE(robot.WaitIdle());
      stayedOpen.push_back(robot.Window(id).has_value());
    }
    // The table's own file (a table on the server has none), picked and typed: never opened
    // as a document.
    if (localTable) {
      robot.AnswerFile((work_->Path() / "DEMODATA.sqlite").string());
      EXPECT_TRUE(robot.Press(id, kUpdateDataLookup));
      ASSERT_TRUE(robot.WaitIdle());
      EXPECT_TRUE(robot.Type(id, kUpdateDataFileName, "DEMODATA.sqlite"));
      EXPECT_TRUE(robot.Press(id, kUpdateDataOk));
      ASSERT_TRUE(robot.WaitIdle());
      stayedOpen.push_back(robot.Window(id).has_value());
    }
    whileRefused = Table();
    // Still usable: a good file is stored.
    robot.AnswerFile(good.string());
    EXPECT_TRUE(robot.Press(id, kUpdateDataLookup));
    EXPECT_TRUE(robot.Press(id, kUpdateDataOk));
    EXPECT_TRUE(robot.WaitClosed(id));
  });
  EXPECT_EQ(afterPick, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(stayedOpen, std::vector<bool>(localTable ? 6 : 5, true));
  // Only the record primed for the form, as primed.
  ASSERT_TRUE(whileRefused);
  ASSERT_EQ(whileRefused->size(), 1u);
  EXPECT_EQ(whileRefused->at(1).name, "");
  EXPECT_EQ(whileRefused->at(1).bytes, "");
  EXPECT_EQ(Count("File Name Not Kept"), 3);
  EXPECT_EQ(Count("Document Not Stored"), localTable ? 5 : 4);
  EXPECT_EQ(Count("Not A Document"), localTable ? 1 : 0);
  EXPECT_EQ(response, RequestCompleted);
  EXPECT_EQ(stored_.at(1).name, good.string());
  EXPECT_EQ(Hash(stored_.at(1).bytes), Hash(Contents(good)));
}

// Whatever a readable file holds (no PDF, a damaged or an encrypted one) is stored byte for
// byte; the form's view says when it cannot show it.
TEST_F(UpdateDataTest, AnyReadableFileIsStoredExactly) {
  const fs::path files[] = {Place("not-a-pdf.pdf", "text.pdf"), Place("truncated.pdf", "cut.pdf"),
                            Place("encrypted.pdf", "locked.pdf")};
  std::vector<std::uint8_t> responses;
  Run(
      {},
      [&] {
        for (int i = 0; i < 3; ++i)
          responses.push_back(Form(InsertRecord));
      },
      [&](Robot& robot) {
        for (const fs::path& file : files) {
          const int form = Next(robot, "Record Will Be Added");
          ASSERT_NE(form, 0);
          robot.AnswerFile(file.string());
          ASSERT_TRUE(robot.Press(form, kUpdateDataLookup));
          ASSERT_TRUE(robot.Press(form, kUpdateDataOk));
          ASSERT_TRUE(robot.WaitClosed(form));
        }
      });
  EXPECT_EQ(responses, std::vector<std::uint8_t>(3, RequestCompleted));
  ASSERT_EQ(stored_.size(), 3u);
  for (int id = 1; id <= 3; ++id) {
    EXPECT_EQ(stored_.at(id).name, files[id - 1].string());
    EXPECT_EQ(Hash(stored_.at(id).bytes), Hash(Contents(files[id - 1])));
  }
  EXPECT_GE(Count("PDF Document"), 1);  // the view could not show the text file
  EXPECT_EQ(Count("Document Not Stored"), 0);
}

// Viewing the stored document changes nothing: untouched forms close without a question,
// before and after, on any row; and the viewer shows what the record holds, not a file just
// picked.
TEST_F(UpdateDataTest, ViewBlobShowsTheStoredBytesAndChangesNothing) {
  const fs::path one = Place("one-page.pdf", "one.pdf");
  const fs::path two = Place("two-pages.pdf", "two.pdf");
  std::vector<std::uint8_t> responses;
  std::vector<std::string> pageCounts;
  auto viewPages = [&](Robot& robot, int form) {
    ASSERT_TRUE(robot.Press(form, kUpdateDataViewBlob));
    const int viewer = Next(robot, "Pagelet DEMO");
    ASSERT_NE(viewer, 0);
    const std::size_t before = backend_->Transcript().size();
    ASSERT_TRUE(robot.ChooseMenu(viewer, kViewBlobPageCount));
    ASSERT_TRUE(robot.WaitIdle());
    const auto transcript = backend_->Transcript();
    ASSERT_GT(transcript.size(), before);
    pageCounts.push_back(transcript.back().text);
    ASSERT_TRUE(robot.CloseWindow(viewer));
    ASSERT_TRUE(robot.WaitClosed(viewer));
    ASSERT_TRUE(robot.WaitIdle());
  };
  Run(
      {one, two},
      [&] {
        for (std::int32_t id : {1, 1, 2, 2})
          responses.push_back(Form(ChangeRecord, id));
      },
      [&](Robot& robot) {
        // Viewed, then cancelled: nothing to lose.
        int form = Next(robot, "Record Will Be Changed");
        ASSERT_NE(form, 0);
        viewPages(robot, form);
        ASSERT_TRUE(robot.Press(form, kUpdateDataCancel));
        ASSERT_TRUE(robot.WaitClosed(form));
        // Untouched afterwards, on the same row and on another.
        for (int i = 0; i < 2; ++i) {
          form = Next(robot, "Record Will Be Changed");
          ASSERT_NE(form, 0);
          ASSERT_TRUE(robot.Press(form, kUpdateDataCancel));
          ASSERT_TRUE(robot.WaitClosed(form));
        }
        // A file picked but not saved: the viewer still shows the stored two pages, and
        // cancelling asks before the pick is lost.
        form = Next(robot, "Record Will Be Changed");
        ASSERT_NE(form, 0);
        robot.AnswerFile(one.string());
        ASSERT_TRUE(robot.Press(form, kUpdateDataLookup));
        ASSERT_TRUE(robot.WaitIdle());
        viewPages(robot, form);
        robot.Answer(rt::kButtonYes);
        ASSERT_TRUE(robot.Press(form, kUpdateDataCancel));
        ASSERT_TRUE(robot.WaitClosed(form));
      });
  EXPECT_EQ(pageCounts, (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(Count("Changes will be lost!"), 1);
  EXPECT_EQ(responses, std::vector<std::uint8_t>(4, RequestCancelled));
  ASSERT_EQ(stored_.size(), 2u);
  EXPECT_EQ(stored_.at(1).name, one.string());
  EXPECT_EQ(Hash(stored_.at(2).bytes), Hash(Contents(two)));
}

// The view request only shows the record: its entries take no input, the file button and
// View Blob are off, and OK closes without writing, though the file named has changed since.
TEST_F(UpdateDataTest, ViewRequestOnlyShows) {
  const fs::path file = Place("one-page.pdf", "shown.pdf");
  const std::string stored = Contents(file);
  std::vector<bool> readOnly;
  std::vector<bool> enabled;
  bool typed = true;
  Run(
      {file}, [&] { Form(ViewRecord, 1); },
      [&](Robot& robot) {
        fs::copy_file(fs::path(TEST_DATA_DIR) / "two-pages.pdf", file,
                      fs::copy_options::overwrite_existing);
        const int form = Next(robot, "View Record");
        ASSERT_NE(form, 0);
        for (int entry : {kUpdateDataId, kUpdateDataFileName})
          readOnly.push_back(robot.Control(form, entry)->readOnly);
        typed = robot.Type(form, kUpdateDataFileName, "other.pdf");
        for (int button : {kUpdateDataLookup, kUpdateDataViewBlob, kUpdateDataOk})
          enabled.push_back(robot.Enabled(form, button));
        ASSERT_TRUE(robot.Press(form, kUpdateDataOk));
        EXPECT_TRUE(robot.WaitClosed(form));
      });
  EXPECT_EQ(readOnly, (std::vector<bool>{true, true}));
  EXPECT_FALSE(typed);
  EXPECT_EQ(enabled, (std::vector<bool>{false, false, true}));
  ASSERT_EQ(stored_.size(), 1u);
  EXPECT_EQ(stored_.at(1).name, file.string());
  EXPECT_EQ(Hash(stored_.at(1).bytes), Hash(stored));
  EXPECT_TRUE(Captions().empty());
}

TEST_F(UpdateDataTest, AnIdTheKeyCannotHoldIsRefusedNamingTheFieldAndTheRowKeepsItsKey) {
  const fs::path good = Place("one-page.pdf", "good.pdf");
  // 80 characters, 82 bytes: two of them are accented letters.
  const std::string folder = (work_->Path() / "").string();
  ASSERT_LT(folder.size(), 70u);
  const fs::path accented =
      Place("one-page.pdf", "\xC3\xA9t\xC3\xA9" + std::string(73 - folder.size(), 'x') + ".pdf");
  ASSERT_EQ(accented.string().size(), kDemoDataFileNameSize + 2);
  const std::uint8_t response = InsertWithForm([&](Robot& robot, int id) {
    for (const char* typed : {"99999999999", "2147483648", "", "abc"}) {
      EXPECT_TRUE(robot.Type(id, kUpdateDataId, typed));
      ASSERT_TRUE(robot.WaitIdle());
    }
    robot.AnswerFile(accented.string());
    EXPECT_TRUE(robot.Press(id, kUpdateDataLookup));
    ASSERT_TRUE(robot.WaitIdle());
    robot.AnswerFile(good.string());
    EXPECT_TRUE(robot.Press(id, kUpdateDataLookup));
    EXPECT_TRUE(robot.Press(id, kUpdateDataOk));
    EXPECT_TRUE(robot.WaitClosed(id));
  });
  EXPECT_EQ(response, RequestCompleted);
  const auto messages = testing_support::MessagesOf(*backend_);
  ASSERT_EQ(messages.size(), 5u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(messages[i].caption, "Range Error");
    EXPECT_EQ(messages[i].text, "The value of ID must be in range -2147483648 to 2147483647.");
  }
  EXPECT_EQ(messages[4].caption, "File Name Not Kept");
  EXPECT_NE(messages[4].text.find("80 bytes"), std::string::npos) << messages[4].text;
  // The primed row kept its number and took the good file.
  ASSERT_EQ(stored_.size(), 1u);
  EXPECT_EQ(stored_.begin()->first, 1);
  EXPECT_EQ(stored_.begin()->second.name, good.string());
}

}  // namespace
