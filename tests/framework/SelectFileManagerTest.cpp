// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/util/SelectFileManager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/runtime/windows/HeadlessBackend.h"
#include "support/WorkDir.h"

namespace {

namespace fs = std::filesystem;

// A dialog that, like a desktop one, leaves the process in the folder the user browsed to.
class WanderingDialog : public rt::HeadlessBackend {
 public:
  fs::path browseTo;
  fs::path folderWhenShown;
  int flags = -1;
  bool FileDialog(const std::string& title, std::string& fileName, const std::string& masks,
                  int dialogFlags) override {
    folderWhenShown = fs::current_path();
    flags = dialogFlags;
    if (!browseTo.empty()) fs::current_path(browseTo);
    return HeadlessBackend::FileDialog(title, fileName, masks, dialogFlags);
  }
};

class SelectFileManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("select-file");
    ASSERT_TRUE(work_->Ok());
    dialog_ = std::make_shared<WanderingDialog>();
    rt::InstallBackend(dialog_);
    files_.Init();
  }
  void TearDown() override {
    rt::InstallHeadlessBackend();
    work_.reset();
  }
  rt::UiRequest LastDialog() const { return dialog_->Transcript().back(); }

  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<WanderingDialog> dialog_;
  SelectFileManager files_;
};

TEST_F(SelectFileManagerTest, MasksAndWhatACancelledDialogReturns) {
  files_.DefaultFile = "start.pdf";
  EXPECT_EQ(files_.Ask(), "start.pdf");
  EXPECT_EQ(files_.DialogCancelled, 1);
  EXPECT_EQ(LastDialog().text, "All Files|*.*");
  EXPECT_EQ(LastDialog().caption, "Select A File");
  EXPECT_EQ(dialog_->flags, 16);

  files_.SetMask("Text Files  ", "*.txt");
  files_.SetMask("PDF Files", "*.pdf");
  files_.AddMask("   ");
  files_.AddMask("All Files|*.*");
  files_.ClearOnCancel = 1;
  EXPECT_EQ(files_.Ask(), "");
  EXPECT_EQ(LastDialog().text, "PDF Files|*.pdf|All Files|*.*");

  // A chosen name comes back whole, however long.
  const std::string deep = "/" + std::string(300, 'd') + "/é ' x.pdf";
  dialog_->PushFile(deep);
  EXPECT_EQ(files_.Ask(), deep);
  EXPECT_EQ(files_.DialogCancelled, 0);
}

TEST_F(SelectFileManagerTest, DialogStartsInTheDefaultFolderAndKeepsTheCurrentOne) {
  const fs::path home = fs::current_path();
  fs::create_directories(home / "documents");
  fs::create_directories(home / "elsewhere");
  files_.DefaultDirectory = (home / "documents").string();
  dialog_->browseTo = home / "elsewhere";
  dialog_->PushFile("picked.pdf");
  EXPECT_EQ(files_.Ask(true), "picked.pdf");
  EXPECT_EQ(dialog_->folderWhenShown, home / "documents");
  EXPECT_EQ(fs::current_path(), home);
  EXPECT_EQ(std::string(files_.SavePath.View()), home.string());

  // Without keep, the folder the user went to stays current.
  files_.Ask(false);
  EXPECT_EQ(fs::current_path(), home / "elsewhere");
}

}  // namespace
