// The windows that move their controls by a resize strategy, on the real desktop: however
// their size changes (a corner drag, Tile, Cascade, maximize, restore), every control stays
// inside the window and inside the control that held it, and runs into none it was clear
// of; Tile and Cascade keep every window inside the frame's area.

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
struct Layout {
  QRect client;
  std::map<QWidget*, QRect> controls;
};

Layout LayoutOf(gui::QtWindow* window) {
  Layout layout{window->Client()->rect(), {}};
  for (QObject* child : window->Client()->children())
    if (auto* w = qobject_cast<QWidget*>(child); w && !w->isHidden())
      layout.controls[w] = w->geometry();
  return layout;
}

QString Name(QWidget* w) {
  if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
  return w->metaObject()->className();
}

// How `now` breaks the layout the window started with: a control out of the client area,
// out of a control that held it, or over one it was clear of.
std::string Faults(const Layout& start, const Layout& now) {
  QStringList faults;
  for (const auto& [w, r] : now.controls)
    if (!now.client.contains(r)) faults << Name(w) + " leaves the window";
  for (const auto& [a, a0] : start.controls) {
    for (const auto& [b, b0] : start.controls) {
      if (a == b || !now.controls.count(a) || !now.controls.count(b)) continue;
      const QRect ra = now.controls.at(a);
      const QRect rb = now.controls.at(b);
      if (a0.contains(b0) && !ra.contains(rb)) faults << Name(b) + " leaves " + Name(a);
      if (a < b && !a0.intersects(b0) && ra.intersects(rb))
        faults << Name(a) + " runs into " + Name(b);
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

  static void ExpectKept(const char* route, gui::QtWindow* window, const Layout& start) {
    EXPECT_EQ(Faults(start, LayoutOf(window)), "")
        << route << ", " << window->windowTitle().toStdString();
  }

  // The browse shares the width it gained between the list's sheet and the document view;
  // the view keeps its right and bottom margins, the sheet its bottom margin.
  static void ExpectBrowseStrategy(const char* route, gui::QtWindow* browse, const Layout& start) {
    constexpr int kSlack = 3;  // the rounding of a dialog unit or two
    QWidget* sheet = browse->ControlWidget(kBrowseDataSheet);
    QWidget* region = browse->ControlWidget(kBrowseDataRegion);
    const QRect s0 = start.controls.at(sheet);
    const QRect r0 = start.controls.at(region);
    const QRect client = browse->Client()->rect();
    const int grown = client.width() - start.client.width();
    EXPECT_NEAR(sheet->width() - s0.width(), grown / 2, kSlack) << route;
    EXPECT_NEAR(region->x() - sheet->geometry().right(), r0.x() - s0.right(), kSlack) << route;
    EXPECT_NEAR(client.right() - region->geometry().right(), start.client.right() - r0.right(),
                kSlack)
        << route;
    EXPECT_NEAR(client.bottom() - region->geometry().bottom(), start.client.bottom() - r0.bottom(),
                kSlack)
        << route;
    EXPECT_NEAR(client.bottom() - sheet->geometry().bottom(), start.client.bottom() - s0.bottom(),
                kSlack)
        << route;
  }

  // Drags a dialog's corner, maximizes and restores it; its region grows with it each time.
  void ResizeDialog(gui::QtWindow* window, int region) {
    ASSERT_TRUE(Settle());
    const Layout start = LayoutOf(window);
    const int designed = window->ControlWidget(region)->width();
    window->resize(window->size() + QSize(200, 120));
    ASSERT_TRUE(Settle());
    ExpectKept("corner drag", window, start);
    EXPECT_GT(window->ControlWidget(region)->width(), designed);
    const Layout dragged = LayoutOf(window);
    window->showMaximized();
    ASSERT_TRUE(Settle());
    ExpectKept("maximize", window, start);
    window->showNormal();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(LayoutOf(window).controls, dragged.controls) << "restore";
  }

  std::optional<testing_support::WorkDir> work_;
};

TEST_F(ResizeGuiTest, ControlsFollowEveryWayTheWindowSizeChanges) {
  const std::vector<std::string> files = {(fs::path(TEST_DATA_DIR) / "two-pages.pdf").string(),
                                          (fs::path(TEST_DATA_DIR) / "one-page.pdf").string()};
  StartProgram([files] {
    RunProgramMain([files] {
      DemoDataRelationManagerRef()->Open();
      for (const std::string& file : files) {
        DemoDataFileManagerRef()->PrepareRecord();
        SetDemoDataFileName(file);
        LoadBlobFromFile(DemoData(), kDemoDataBlob, file);
        DemoDataRelationManagerRef()->Insert();
      }
      DemoDataRelationManagerRef()->Close();
      MainFrame();
    });
  });
  ASSERT_TRUE(PumpUntil([&] { return backend_->Frame() != nullptr; }));
  auto* frame = qobject_cast<gui::QtFrame*>(backend_->Frame());
  ASSERT_NE(frame, nullptr);
  for (std::size_t open = 1; open <= 2; ++open) {
    MenuItem(frame, "&Browse Data")->trigger();
    ASSERT_TRUE(PumpUntil([&] { return FindWindows(kBrowseDataCaption).size() == open; }));
  }
  ASSERT_TRUE(Settle());
  const std::vector<gui::QtWindow*> browses = FindWindows(kBrowseDataCaption);
  std::vector<Layout> designed;
  for (gui::QtWindow* browse : browses)
    designed.push_back(LayoutOf(browse));

  for (std::size_t i = 0; i < browses.size(); ++i) {
    QWidget* sub = browses[i]->Container();
    sub->resize(sub->size() + QSize(150, 90));
  }
  ASSERT_TRUE(Settle());
  for (std::size_t i = 0; i < browses.size(); ++i) {
    ExpectKept("corner drag", browses[i], designed[i]);
    ExpectBrowseStrategy("corner drag", browses[i], designed[i]);
  }

  // An area that holds the two browses one above the other, but not side by side.
  QMdiArea* area = frame->Area();
  const QSize least = browses[0]->Container()->minimumSize();
  frame->resize(frame->size() - area->viewport()->size() +
                QSize(least.width() * 3 / 2, least.height() * 2 + 40));
  ASSERT_TRUE(Settle());
  MenuItem(frame, "T&ile")->trigger();
  ASSERT_TRUE(Settle());
  const QRect inside = area->viewport()->rect();
  EXPECT_FALSE(browses[0]->Container()->geometry().intersects(browses[1]->Container()->geometry()));
  for (std::size_t i = 0; i < browses.size(); ++i) {
    EXPECT_TRUE(inside.contains(browses[i]->Container()->geometry())) << "tile " << i;
    ExpectKept("tile", browses[i], designed[i]);
    ExpectBrowseStrategy("tile", browses[i], designed[i]);
  }

  MenuItem(frame, "&Cascade")->trigger();
  ASSERT_TRUE(Settle());
  for (std::size_t i = 0; i < browses.size(); ++i) {
    EXPECT_TRUE(inside.contains(browses[i]->Container()->geometry())) << "cascade " << i;
    ExpectKept("cascade", browses[i], designed[i]);
  }

  for (std::size_t i = 0; i < browses.size(); ++i) {
    auto* sub = qobject_cast<QMdiSubWindow*>(browses[i]->Container());
    const Layout cascaded = LayoutOf(browses[i]);
    sub->showMaximized();
    ASSERT_TRUE(Settle());
    ExpectKept("maximize", browses[i], designed[i]);
    ExpectBrowseStrategy("maximize", browses[i], designed[i]);
    sub->showNormal();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(LayoutOf(browses[i]).controls, cascaded.controls) << "restore " << i;
  }

  // The form over the first browse, then the viewer over the form.
  qobject_cast<QPushButton*>(browses[0]->ControlWidget(kBrowseDataChange))->click();
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
  // Leaving the form may ask whether to drop its changes: yes.
  QMessageBox* box = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    box = Visible<QMessageBox>();
    return box || !FindWindow("Record Will Be Changed");
  }));
  if (box) box->button(QMessageBox::Yes)->click();
  ASSERT_TRUE(PumpUntil([&] { return FindWindow("Record Will Be Changed") == nullptr; }));
  for (int thread : rt::RunningThreads())
    rt::PostCloseDown(thread);
  EXPECT_TRUE(FinishProgram());
}

}  // namespace
}  // namespace gui_test
