// SPDX-License-Identifier: GPL-3.0-or-later
// The windows that move their controls by a resize strategy, on the real desktop: however
// their size changes (corner drag, Tile, Cascade, maximize, restore), no control leaves its
// window or the control holding it, or runs into one it was clear of; Tile and Cascade keep
// every window inside the frame's area.

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPushButton>
#include <filesystem>
#include <map>
#include <optional>

#include "app/BrowseData.h"
#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/LoadBlobFromFile.h"
#include "app/MainFrame.h"
#include "app/Startup.h"
#include "app/UpdateData.h"
#include "app/ViewBlob.h"
#include "gui/DesktopTest.h"
#include "gui/qt/QtFrame.h"
#include "gui/qt/QtPdfSurface.h"
#include "platform/runtime/windows/Events.h"
#include "support/WorkDir.h"

namespace gui_test {
namespace {

namespace fs = std::filesystem;

// The shown controls of a window, in the coordinates of its client area.
using Layout = std::map<QWidget*, QRect>;

Layout LayoutOf(gui::QtWindow* window) {
  Layout layout;
  for (QObject* child : window->Client()->children())
    if (auto* w = qobject_cast<QWidget*>(child); w && !w->isHidden()) layout[w] = w->geometry();
  return layout;
}

// How a window's layout now breaks the one it started with.
std::string Faults(gui::QtWindow* window, const Layout& start) {
  const Layout now = LayoutOf(window);
  QStringList faults;
  for (const auto& [a, a0] : start) {
    const char* name = a->metaObject()->className();
    if (!window->Client()->rect().contains(now.at(a)))
      faults << QString(name) + " leaves the window";
    for (const auto& [b, b0] : start) {
      if (a0.contains(b0) && a != b && !now.at(a).contains(now.at(b)))
        faults << "a control leaves " + QString(name);
      if (a < b && !a0.intersects(b0) && now.at(a).intersects(now.at(b)))
        faults << QString(name) + " runs into another";
    }
  }
  return faults.join("; ").toStdString();
}

QAction* MenuItem(QWidget* frame, const QString& text) {
  for (QAction* a : frame->findChildren<QAction*>())
    if (a->text() == text) return a;
  return nullptr;
}

class ResizeGuiTest : public DesktopTest {
 protected:
  void SetUp() override {
    work_.emplace("resize-gui");
    ASSERT_TRUE(work_->Ok());
    DesktopTest::SetUp();
    gui::InstallPdfSurfaces();
    RegisterApplicationHooks();
  }
  void TearDown() override {
    DesktopTest::TearDown();
    rt::SetPdfSurfaceFactory({});
    rt::ClearHooks();
    work_.reset();
  }

  // Each browse keeps its layout; its list's sheet takes half the width the window gained
  // and the document view the other half, keeping its right margin.
  void ExpectBrowses(const char* route) {
    ASSERT_TRUE(Settle());
    for (std::size_t i = 0; i < browses_.size(); ++i) {
      QWidget* sheet = browses_[i]->ControlWidget(kBrowseDataSheet);
      QWidget* region = browses_[i]->ControlWidget(kBrowseDataRegion);
      const int grown = browses_[i]->Client()->width() - designedWidth_;
      EXPECT_EQ(Faults(browses_[i], designed_[i]), "") << route;
      EXPECT_NEAR(sheet->width() - designed_[i].at(sheet).width(), grown / 2.0, 3) << route;
      EXPECT_NEAR(region->geometry().right() - designed_[i].at(region).right(), grown, 3) << route;
    }
  }

  // Drags a dialog's corner, then maximizes it: its region follows.
  void ResizeDialog(gui::QtWindow* window, int region) {
    ASSERT_TRUE(Settle());
    const Layout start = LayoutOf(window);
    const int designed = window->ControlWidget(region)->width();
    window->resize(window->size() + QSize(200, 120));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Faults(window, start), "") << "corner drag";
    EXPECT_GT(window->ControlWidget(region)->width(), designed);
    window->showMaximized();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Faults(window, start), "") << "maximize";
  }

  std::optional<testing_support::WorkDir> work_;
  std::vector<gui::QtWindow*> browses_;
  std::vector<Layout> designed_;
  int designedWidth_ = 0;
};

TEST_F(ResizeGuiTest, ControlsFollowEveryWayTheWindowSizeChanges) {
  const std::string file = (fs::path(TEST_DATA_DIR) / "two-pages.pdf").string();
  StartProgram([file] {
    RunProgramMain([file] {
      static_cast<void>(DemoDataRelationManagerRef()->Open());
      static_cast<void>(DemoDataFileManagerRef()->PrepareRecord());
      SetDemoDataFileName(file);
      static_cast<void>(LoadBlobFromFile(DemoData(), kDemoDataBlob, file));
      static_cast<void>(DemoDataRelationManagerRef()->Insert());
      static_cast<void>(DemoDataRelationManagerRef()->Close());
      MainFrame();
    });
  });
  ASSERT_TRUE(PumpUntil([&] { return backend_->Frame() != nullptr; }));
  auto* frame = qobject_cast<gui::QtFrame*>(backend_->Frame());
  for (std::size_t open = 1; open <= 2; ++open) {
    MenuItem(frame, "&Browse Data")->trigger();
    ASSERT_TRUE(PumpUntil([&] { return FindWindows(kBrowseDataCaption).size() == open; }));
  }
  ASSERT_TRUE(Settle());
  browses_ = FindWindows(kBrowseDataCaption);
  for (gui::QtWindow* browse : browses_)
    designed_.push_back(LayoutOf(browse));
  designedWidth_ = browses_[0]->Client()->width();

  for (gui::QtWindow* browse : browses_)
    browse->Container()->resize(browse->Container()->size() + QSize(150, 90));
  ExpectBrowses("corner drag");

  // An area that holds the two browses one above the other, but not side by side.
  QMdiArea* area = frame->Area();
  const QSize least = browses_[0]->Container()->minimumSize();
  frame->resize(frame->size() - area->viewport()->size() +
                QSize(least.width() * 3 / 2, least.height() * 2 + 40));
  ASSERT_TRUE(Settle());
  MenuItem(frame, "T&ile")->trigger();
  ExpectBrowses("tile");
  const QRect inside = area->viewport()->rect();
  EXPECT_FALSE(
      browses_[0]->Container()->geometry().intersects(browses_[1]->Container()->geometry()));
  for (gui::QtWindow* browse : browses_)
    EXPECT_TRUE(inside.contains(browse->Container()->geometry())) << "tile";
  MenuItem(frame, "&Cascade")->trigger();
  ExpectBrowses("cascade");
  for (gui::QtWindow* browse : browses_)
    EXPECT_TRUE(inside.contains(browse->Container()->geometry())) << "cascade";

  for (gui::QtWindow* browse : browses_) {
    const Layout cascaded = LayoutOf(browse);
    browse->Container()->showMaximized();
    ExpectBrowses("maximize");
    browse->Container()->showNormal();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(LayoutOf(browse), cascaded) << "restore";
  }

  // The form over the first browse, then the viewer over the form.
  qobject_cast<QPushButton*>(browses_[0]->ControlWidget(kBrowseDataChange))->click();
  gui::QtWindow* form = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (form = FindWindow("Record Will Be Changed")) != nullptr; }));
  ResizeDialog(form, kUpdateDataRegion);
  qobject_cast<QPushButton*>(form->ControlWidget(kUpdateDataViewBlob))->click();
  gui::QtWindow* viewer = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (viewer = FindWindow("Pagelet DEMO")) != nullptr; }));
  ResizeDialog(viewer, kViewBlobRegion);

  viewer->Send(rt::event::kAccepted, kViewBlobExit);
  ASSERT_TRUE(PumpUntil([&] { return FindWindow("Pagelet DEMO") == nullptr; }));
  qobject_cast<QPushButton*>(form->ControlWidget(kUpdateDataCancel))->click();
  QMessageBox* box = nullptr;  // leaving the form may ask whether to drop its changes: yes
  ASSERT_TRUE(PumpUntil(
      [&] { return (box = Visible<QMessageBox>()) || !FindWindow("Record Will Be Changed"); }));
  if (box) box->button(QMessageBox::Yes)->click();
  for (int thread : rt::RunningThreads())
    rt::PostCloseDown(thread);
  EXPECT_TRUE(FinishProgram());
}

}  // namespace
}  // namespace gui_test
