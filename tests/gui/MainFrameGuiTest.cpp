// SPDX-License-Identifier: GPL-3.0-or-later
// The application's own frame on the real desktop.
#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include "app/Startup.h"
#include "gui/DesktopTest.h"

namespace gui_test {
namespace {

class MainFrameGuiTest : public DesktopTest {};

// The texts and tips of a menu's entries, separators as "-".
std::vector<std::pair<QString, QString>> Entries(QMenu* menu) {
  std::vector<std::pair<QString, QString>> out;
  for (QAction* a : menu->actions())
    out.emplace_back(a->isSeparator() ? QString("-") : a->text(), a->statusTip());
  return out;
}

QMenu* TopMenu(QMainWindow* frame, const QString& text) {
  for (QAction* a : frame->menuBar()->actions())
    if (a->text() == text) return a->menu();
  return nullptr;
}

TEST_F(MainFrameGuiTest, FrameShowsTheMenusAndExitEndsTheProgram) {
  RegisterApplicationHooks();
  StartProgram(ProgramMain);
  ASSERT_TRUE(PumpUntil([&] { return backend_->Frame() != nullptr; }));
  QMainWindow* frame = backend_->Frame();
  EXPECT_EQ(frame->windowTitle(), "Pagelet Demo");
  QStringList tops;
  for (QAction* a : frame->menuBar()->actions())
    tops << a->text();
  EXPECT_EQ(tops, (QStringList{"&File", "&Edit", "&View Demo", "&Window", "&Help"}));
  using Entry = std::pair<QString, QString>;
  ASSERT_NE(TopMenu(frame, "&File"), nullptr);
  EXPECT_EQ(
      Entries(TopMenu(frame, "&File")),
      (std::vector<Entry>{
          {"&Print Setup ...", "Setup printer"}, {"-", ""}, {"E&xit", "Exit this application"}}));
  EXPECT_EQ(Entries(TopMenu(frame, "&Edit")),
            (std::vector<Entry>{{"Cu&t", "Remove item to Windows Clipboard"},
                                {"&Copy", "Copy item to Windows Clipboard"},
                                {"&Paste", "Paste contents of Windows Clipboard"}}));
  EXPECT_EQ(Entries(TopMenu(frame, "&View Demo")),
            (std::vector<Entry>{
                {"&Browse Data", ""},
                {"Search &Documents...", "Find stored documents by the words they hold"}}));
  auto window = Entries(TopMenu(frame, "&Window"));
  ASSERT_GE(window.size(), 3u);
  EXPECT_EQ(std::vector<Entry>(window.begin(), window.begin() + 3),
            (std::vector<Entry>{{"T&ile", "Make all open windows visible"},
                                {"&Cascade", "Stack all open windows"},
                                {"&Arrange Icons", "Align all window icons"}}));
  EXPECT_EQ(Entries(TopMenu(frame, "&Help")),
            (std::vector<Entry>{{"&Contents", "View the contents of the help file"},
                                {"&Search for Help On...", "Search for help on a subject"},
                                {"&How to Use Help", "How to use Windows Help"}}));
  for (QAction* a : TopMenu(frame, "&File")->actions())
    if (a->text() == "E&xit") a->trigger();
  EXPECT_TRUE(FinishProgram());
}

}  // namespace
}  // namespace gui_test
