// SPDX-License-Identifier: GPL-3.0-or-later
// The file-picking object on the desktop's own file dialog.

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <atomic>
#include <filesystem>
#include <string>

#include "framework/util/SelectFileManager.h"
#include "gui/DesktopTest.h"

namespace {

class SelectFileDialogTest : public gui_test::DesktopTest {};

// The dialog opens in the default folder with the form's mask; the chosen name, with
// spaces, quotes and non-ASCII letters, comes back whole and the program's folder is kept.
TEST_F(SelectFileDialogTest, PicksAFileFromTheDefaultFolderAndKeepsTheCurrentOne) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString folder = dir.filePath("Pièces 'jointes'");
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString pdf = folder + "/Rapport d'été.pdf";
  QFile file(pdf);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("%PDF-1.4\n");
  file.close();

  const std::filesystem::path before = std::filesystem::current_path();
  std::string chosen;
  std::atomic<bool> answered{false};
  std::filesystem::path after;
  StartProgram([&] {
    SelectFileManager files;
    files.Init();
    files.ClearOnCancel = 1;
    files.SetMask("PDF Files", "*.pdf");
    files.DefaultDirectory = folder.toStdString();
    chosen = files.Ask(true);
    after = std::filesystem::current_path();
    answered = true;
  });

  QFileDialog* dialog = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (dialog = Visible<QFileDialog>()) != nullptr; }));
  EXPECT_EQ(dialog->windowTitle(), "Select A File");
  EXPECT_EQ(dialog->nameFilters(), QStringList{"PDF Files (*.pdf)"});
  EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(folder).canonicalPath());
  auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(name, nullptr);
  name->setText("Rapport d'été.pdf");
  static_cast<QDialog*>(dialog)->accept();
  ASSERT_TRUE(PumpUntil([&] { return answered.load(); }));
  EXPECT_TRUE(FinishProgram());
  EXPECT_EQ(QDir::cleanPath(QString::fromStdString(chosen)), QDir::cleanPath(pdf));
  EXPECT_EQ(after, before);
}

}  // namespace
