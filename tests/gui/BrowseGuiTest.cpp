// SPDX-License-Identifier: GPL-3.0-or-later
// A browse on a real table shown by the Qt list: the page's rows with the format's texts,
// every row of the page visible, the scroll bar's thumb where the runtime put it, and keys,
// wheel and thumb drags on the real widgets moving the highlight where the runtime says.

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTreeWidget>
#include <QWheelEvent>
#include <atomic>
#include <functional>
#include <memory>

#include "DesktopTest.h"
#include "framework/browse/BrowseManager.h"
#include "framework/browse/StepLong.h"
#include "gui/qt/QtListControl.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "support/BrowseFixture.h"
#include "support/WorkDir.h"

namespace {

constexpr int kList = 1;
constexpr int kRows = 6;

class BrowseGuiTest : public gui_test::DesktopTest {};

TEST_F(BrowseGuiTest, ListShowsThePageAndTheThumbTheRuntimeSet) {
  testing_support::WorkDir work("browse-gui");
  ASSERT_TRUE(work.Ok());
  std::atomic<int> windowId{0};
  std::atomic<long> thumb{-1};
  StartProgram([&] {
    StepLong step;  // outlives the browse, which releases it
    testing_support::BrowseFixture f;
    testing_support::DocRows rows;
    for (int id = 1; id <= 40; ++id)
      rows.emplace_back(id * 10, "doc" + std::to_string(id));
    testing_support::AddDocs(rows);
    f.Open({.thumb = &step, .rows = kRows, .caption = "Browse Documents"});
    f.Browse->TakeScroll(rt::event::kPageDown);
    f.Browse->TakeScroll(rt::event::kPageDown);
    f.Browse->UpdateWindow();
    thumb = f.Thumb();
    windowId = f.Window->Id();
    f.Window->EventLoop([] { return 0; });
  });
  ASSERT_TRUE(PumpUntil([&] { return windowId.load() != 0; }));
  gui::QtListControl* list = nullptr;
  QTreeWidget* tree = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    list = qobject_cast<gui::QtListControl*>(backend_->ControlWidget(windowId, kList));
    tree = list ? list->Tree() : nullptr;
    return tree && tree->topLevelItemCount() == kRows &&
           tree->topLevelItem(0)->text(0).trimmed() == "130";
  }));
  // Two pages down: records 13 to 18, numbered by tens.
  EXPECT_EQ(tree->headerItem()->text(1), "Name");
  EXPECT_EQ(tree->topLevelItem(kRows - 1)->text(0), "    180");  // the picture's width
  EXPECT_EQ(tree->topLevelItem(kRows - 1)->text(1), "doc18");
  EXPECT_TRUE(tree->topLevelItem(0)->textAlignment(0) & Qt::AlignRight);
  EXPECT_EQ(tree->currentItem(), tree->topLevelItem(0));
  // Every row of the page fits the list.
  const QRect last = tree->visualItemRect(tree->topLevelItem(kRows - 1));
  EXPECT_LE(last.bottom(), tree->viewport()->height());
  // The thumb: record 130 in 10..400, (130 - 10) x 100 / 390 = 30.
  EXPECT_EQ(thumb.load(), 30);
  EXPECT_TRUE(list->ScrollBar()->isVisibleTo(list));
  EXPECT_EQ(list->ScrollBar()->value(), 30);

  rt::PostCloseDown(1);
  EXPECT_TRUE(FinishProgram());
}

// Keys, the wheel, typed characters and the real scroll bar's thumb on the real list: after
// each, the widget's current row is the runtime's highlighted row.
TEST_F(BrowseGuiTest, KeysWheelAndThumbOnTheListMoveTheHighlightWhereTheRuntimeSays) {
  testing_support::WorkDir work("browse-nav-gui");
  ASSERT_TRUE(work.Ok());
  std::atomic<testing_support::BrowseFixture*> fixture{nullptr};
  std::atomic<int> windowId{0};
  StepLong thumb;
  thumb.Init(1);
  StartProgram([&] {
    testing_support::BrowseFixture f;
    testing_support::AddDocRange(1, 101);
    f.Open({.thumb = &thumb, .locator = true, .rows = kRows});
    fixture = &f;
    windowId = f.Window->Id();
    f.Controller.Ask();
    fixture = nullptr;
  });
  ASSERT_TRUE(PumpUntil([&] { return windowId.load() != 0; }));
  gui::QtListControl* list = nullptr;
  QTreeWidget* tree = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    list = qobject_cast<gui::QtListControl*>(backend_->ControlWidget(windowId, kList));
    tree = list ? list->Tree() : nullptr;
    return tree && tree->topLevelItemCount() == kRows;
  }));
  QScrollBar* bar = list->ScrollBar();

  // The runtime's highlight and thumb, read on the browse's thread once it is idle, and the
  // widgets after they took the runtime's last refresh.
  struct Runtime {
    int choice = 0, highlighted = 0, record = 0, top = 0;
    long thumb = 0;
  };
  auto settle = [&] {
    Runtime r;
    std::atomic<bool> read{false};
    EXPECT_TRUE(PumpUntil([] { return rt::AllThreadsIdle(); }));
    rt::PostTask(1, [&] {
      testing_support::BrowseFixture& f = *fixture;
      r = {f.Browse->CurrentChoice, f.Highlighted(), f.RecordId(), f.Page().front(), f.Thumb()};
      read = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return read.load() && rt::AllThreadsIdle(); }));
    PumpUntil([] { return false; }, 50);  // the refresh queued for the widgets
    return r;
  };
  auto key = [&](Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    return [&, k, mods] {
      QKeyEvent press(QEvent::KeyPress, k, mods);
      QApplication::sendEvent(tree, &press);
    };
  };
  auto wheel = [&](int notches) {
    return [&, notches] {
      const QPointF at(5, 5);
      QWheelEvent turn(at, tree->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
      QApplication::sendEvent(tree->viewport(), &turn);
    };
  };
  auto drag = [&](int position) {
    return [&, position] {
      bar->setSliderDown(true);
      bar->setSliderPosition(position);
      bar->setSliderDown(false);
    };
  };
  struct Move {
    const char* what;
    std::function<void()> act;
    int top;
    int highlighted;
  };
  const Move moves[] = {
      {"Down inside the page", key(Qt::Key_Down), 1, 2},
      {"End", key(Qt::Key_End), 96, 101},
      {"Down on the last row", key(Qt::Key_Down), 96, 101},
      {"Ctrl+Home", key(Qt::Key_Home, Qt::ControlModifier), 1, 1},
      {"Up on the first row", key(Qt::Key_Up), 1, 1},
      {"PgDn", key(Qt::Key_PageDown), 7, 7},
      {"PgUp", key(Qt::Key_PageUp), 1, 1},
      {"Ctrl+End", key(Qt::Key_End, Qt::ControlModifier), 96, 101},
      {"Home", key(Qt::Key_Home), 1, 1},
      {"wheel three notches down", wheel(-3), 1, 4},
      {"wheel one notch up", wheel(1), 1, 3},
      {"thumb to the middle", drag(50), 49, 51},
      {"thumb to the bottom", drag(100), 96, 101},
      {"typed 7", key(Qt::Key_7), 2, 7},
      {"Down below the page", key(Qt::Key_Down), 3, 8},
  };
  settle();
  for (const Move& m : moves) {
    m.act();
    const Runtime r = settle();
    EXPECT_EQ(r.highlighted, m.highlighted) << m.what;
    EXPECT_EQ(r.top, m.top) << m.what;
    EXPECT_EQ(r.record, r.highlighted) << m.what << ": record buffer";
    // The widget shows the runtime's page, row and thumb.
    EXPECT_EQ(tree->indexOfTopLevelItem(tree->currentItem()) + 1, r.choice) << m.what;
    ASSERT_NE(tree->currentItem(), nullptr) << m.what;
    EXPECT_EQ(tree->currentItem()->text(0).trimmed().toInt(), r.highlighted) << m.what;
    EXPECT_EQ(tree->topLevelItem(0)->text(0).trimmed().toInt(), r.top) << m.what;
    EXPECT_EQ(bar->value(), r.thumb) << m.what;
  }

  rt::PostCloseDown(1);
  EXPECT_TRUE(FinishProgram());
}

}  // namespace
