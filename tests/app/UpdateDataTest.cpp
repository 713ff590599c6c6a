// The document form run directly on a thread of its own, on a real table in a temporary
// folder: the file picked is stored byte for byte, and names or files that cannot be stored
// are refused with a message while the form stays usable.

#include "app/UpdateData.h"

#include <gtest/gtest.h>

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
#include "app/Startup.h"
#include "app/ViewBlob.h"
#include "framework/error/ErrorHooks.h"
#include "framework/window/RequestCodes.h"
#include "platform/runtime/threads/Threads.h"
#include "support/Robot.h"
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

  // Runs the form for a new record, primed as the browse primes it, while `drive` acts.
  std::uint8_t InsertWithForm(const std::function<void(Robot&, int)>& drive) {
    std::uint8_t response = 0;
    rt::RunProgram([&] {
      StartGlobalErrors();
      CreateDemoDataManagers();
      rt::Start([&](const std::vector<std::string>&) {
        DemoDataRelationManagerRef()->Open();
        DemoDataFileManagerRef()->PrepareRecord();
        GlobalRequest() = InsertRecord;
        UpdateData();
        response = GlobalResponse();
        DemoDataRelationManagerRef()->Close();
      });
      Robot robot(backend_);
      const int id = robot.WaitForWindow("Record Will Be Added");
      EXPECT_NE(id, 0);
      if (id != 0 && robot.WaitIdle()) {
        drive(robot, id);
        if (robot.Window(id)) {
          robot.Answer(rt::kButtonYes);
          robot.CloseWindow(id);
        }
        EXPECT_TRUE(robot.WaitClosed(id));
      }
      rt::JoinAllThreads();
      stored_ = Table();
    });
    return response;
  }

  static std::map<int, Stored> Table() {
    std::map<int, Stored> rows;
    DemoDataRelationManagerRef()->Open();
    rt::File& file = DemoData();
    file.Set(DemoDataIdKey());
    while (file.Next() == 0) {
      Stored& row = rows[DemoDataId()];
      row.name = std::string(rt::ClipText(DemoDataFileName()));
      file.GetBlobContents(kDemoDataBlob, row.bytes);
    }
    DemoDataRelationManagerRef()->Close();
    return rows;
  }

  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const auto& m : testing_support::MessagesOf(*backend_))
      captions.push_back(m.caption);
    return captions;
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
  const std::uint8_t response = InsertWithForm([&](Robot& robot, int id) {
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

TEST_F(UpdateDataTest, NamesAndFilesThatCannotBeStoredAreRefusedAndTheFormStaysUsable) {
  const fs::path deep = Place("one-page.pdf", std::string(70, 'd') + "/long.pdf");
  const fs::path good = Place("one-page.pdf", "good.pdf");
  const fs::path bad[] = {
      Place("not-a-pdf.pdf", "text.pdf"),
      Place("truncated.pdf", "cut.pdf"),
      Place("encrypted.pdf", "locked.pdf"),
      Place("empty.pdf", "empty.pdf"),
      work_->Path() / "sub",  // a folder
  };
  fs::create_directories(work_->Path() / "sub");
  std::vector<std::string> afterLong;
  std::vector<bool> stayedOpen;
  std::optional<std::map<int, Stored>> whileRefused;
  const std::uint8_t response = InsertWithForm([&](Robot& robot, int id) {
    // Too long to keep whole: picked or typed, it is never stored cut.
    robot.AnswerFile(deep.string());
    EXPECT_TRUE(robot.Press(id, kUpdateDataLookup));
    ASSERT_TRUE(robot.WaitIdle());
    afterLong.push_back(robot.ScreenText(id, kUpdateDataFileName));
    EXPECT_TRUE(robot.Type(id, kUpdateDataFileName, deep.string()));
    EXPECT_TRUE(robot.Press(id, kUpdateDataOk));
    ASSERT_TRUE(robot.WaitIdle());
    stayedOpen.push_back(robot.Window(id).has_value());
    // Files that are no usable document, and one deleted between picking and OK.
    const fs::path gone = Place("one-page.pdf", "gone.pdf");
    std::vector<fs::path> refused(std::begin(bad), std::end(bad));
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
    // The table's own file, picked and typed: never opened as a document.
    robot.AnswerFile((work_->Path() / "DEMODATA.sqlite").string());
    EXPECT_TRUE(robot.Press(id, kUpdateDataLookup));
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_TRUE(robot.Type(id, kUpdateDataFileName, "DEMODATA.sqlite"));
    EXPECT_TRUE(robot.Press(id, kUpdateDataOk));
    ASSERT_TRUE(robot.WaitIdle());
    stayedOpen.push_back(robot.Window(id).has_value());
    whileRefused = Table();
    // Still usable: a good file is stored.
    robot.AnswerFile(good.string());
    EXPECT_TRUE(robot.Press(id, kUpdateDataLookup));
    EXPECT_TRUE(robot.Press(id, kUpdateDataOk));
    EXPECT_TRUE(robot.WaitClosed(id));
  });
  EXPECT_EQ(afterLong, std::vector<std::string>{""});
  EXPECT_EQ(stayedOpen, std::vector<bool>(8, true));
  // Only the record primed for the form, as primed.
  ASSERT_TRUE(whileRefused);
  ASSERT_EQ(whileRefused->size(), 1u);
  EXPECT_EQ(whileRefused->at(1).name, "");
  EXPECT_EQ(whileRefused->at(1).bytes, "");
  int tooLong = 0;
  int notStored = 0;
  int tableFile = 0;
  for (const auto& m : testing_support::MessagesOf(*backend_)) {
    tooLong += m.caption == "File Name Too Long";
    notStored += m.caption == "Document Not Stored";
    tableFile += m.caption == "Not A Document";
  }
  EXPECT_EQ(tooLong, 2);
  EXPECT_EQ(notStored, 7);
  EXPECT_EQ(tableFile, 1);
  EXPECT_EQ(response, RequestCompleted);
  EXPECT_EQ(stored_.at(1).name, good.string());
  EXPECT_EQ(Hash(stored_.at(1).bytes), Hash(Contents(good)));
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
  EXPECT_EQ(messages[4].caption, "File Name Too Long");
  EXPECT_NE(messages[4].text.find("80 bytes"), std::string::npos) << messages[4].text;
  // The primed row kept its number and took the good file.
  ASSERT_EQ(stored_.size(), 1u);
  EXPECT_EQ(stored_.begin()->first, 1);
  EXPECT_EQ(stored_.begin()->second.name, good.string());
}

}  // namespace
