// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/windows/Window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/ControlWatch.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "support/Robot.h"

namespace rt {
namespace {

using testing_support::Robot;

// A small window: an entry bound to a string, a check box, a list, two buttons and a menu.
std::shared_ptr<WindowDef> SmallWindow() {
  auto def = std::make_shared<WindowDef>("TestModule", "SMALL", "Small Window");
  def->MenuBar();
  def->Menu("&File");
  def->Item("&Hello");
  def->Separator();
  def->Item("E&xit").Action(StandardAction::Close);
  def->EndMenu();
  def->EndMenu();
  def->Entry("s20").At(10, 10, 80, 12);                 // 1
  def->Check("Flag").At(10, 30, 80, 12);                // 2
  def->Button("&Go").At(10, 50, 40, 14);                // 3
  def->List("30R|M~N~C@n-5@60L|~Name~@s20@");           // 4
  def->Button("&Close").Action(StandardAction::Close);  // 5
  return def;
}

// The rows of the lists below: a number and a 20-character name.
RecordLayout RowsLayout() {
  RecordLayout layout("Rows");
  layout.AddField("R:N", FieldType::Long);
  layout.AddField("R:Name", FieldType::String, 20);
  return layout;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearHooks();
    backend_ = InstallHeadlessBackend();
    RegisterWindowDef(SmallWindow());
  }
  std::shared_ptr<HeadlessBackend> backend_;
};

TEST_F(WindowTest, DefinitionNumbersControlsAndMenuItems) {
  auto w = Window::Prepare("testmodule", "small");
  ASSERT_TRUE(w);
  const WindowDef& d = w->Definition();
  // Menu bar -1, "&File" -2, "&Hello" -3, separator -4, "E&xit" -5.
  ASSERT_NE(d.Find(-5), nullptr);
  EXPECT_EQ(d.Find(-5)->text, "E&xit");
  EXPECT_EQ(d.Find(-3)->parent, -2);
  EXPECT_EQ(d.Find(1)->type, ctl::kEntry);
  EXPECT_EQ(d.Find(5)->text, "&Close");
  EXPECT_EQ(w->Columns(4).size(), 2u);
  EXPECT_EQ(Window::Prepare("TestModule", "NOSUCH"), nullptr);
}

// Runs the small window on a started thread; the procedure counts "&Go" presses and the
// "&Hello" menu item, and records what the accept-all pass delivers.
TEST_F(WindowTest, RobotDrivesAWindowOnAStartedThread) {
  std::mutex mutex;
  std::vector<std::string> log;
  std::string boundText = "start";
  std::uint8_t flag = 0;
  auto add = [&](std::string s) {
    std::lock_guard lock(mutex);
    log.push_back(std::move(s));
  };
  RunProgram([&] {
    Start([&](const std::vector<std::string>&) {
      RecordLayout layout;
      layout.AddField("Q:N", FieldType::Long);
      layout.AddField("Q:Name", FieldType::String, 20);
      Queue queue(layout);
      for (int i = 1; i <= 3; ++i) {
        queue.Field(1).SetInteger(i);
        queue.Field(2).SetText("row" + std::to_string(i));
        queue.Add();
      }
      char text[20];
      auto w = Window::Prepare("TestModule", "SMALL");
      w->Bind(1, AnyRef(text, FieldType::String, sizeof text));
      w->Bind(2, AnyRef::Of(flag));
      w->BindList(4, &queue);
      AnyRef(text, FieldType::String, sizeof text).SetText(boundText);
      w->Open();
      w->EventLoop([&] {
        switch (w->Event()) {
          case event::kAccepted:
            if (w->Field() == 3) {
              add("go");
              w->Select();  // accept all, then Completed
            } else if (w->Field() == -3) {
              add("hello");
            } else {
              add("accepted " + std::to_string(w->Field()));
            }
            break;
          case event::kNewSelection:
            add("row " + std::to_string(w->Choice(4)));
            break;
          case event::kCompleted:
            add("completed");
            break;
          default:
            break;
        }
        return 0;
      });
      boundText = AnyRef(text, FieldType::String, sizeof text).Text();
    });
    Robot robot(backend_);
    const int id = robot.WaitForWindow("Small Window");
    ASSERT_NE(id, 0);
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_EQ(robot.ScreenText(id, 1), "start");
    ASSERT_EQ(robot.Control(id, 4)->rows.size(), 3u);
    // Cells are formatted by the column pictures ("n-5" is five wide).
    EXPECT_EQ(robot.Control(id, 4)->rows[1], (std::vector<std::string>{"    2", "row2"}));
    EXPECT_TRUE(robot.Type(id, 1, "typed"));
    EXPECT_TRUE(robot.SetCheck(id, 2, true));
    EXPECT_TRUE(robot.PickRow(id, 4, 2));
    EXPECT_TRUE(robot.ChooseMenu(id, "&Hello"));
    EXPECT_TRUE(robot.Press(id, 3));
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_TRUE(robot.ChooseMenu(id, "E&xit"));
    EXPECT_TRUE(robot.WaitClosed(id));
    JoinAllThreads();
  });
  EXPECT_EQ(boundText.substr(0, 5), "typed");
  EXPECT_EQ(flag, 1);
  // Each control accepted in definition order, then Completed.
  EXPECT_EQ(log,
            (std::vector<std::string>{"accepted 1", "accepted 2", "row 2", "hello", "go",
                                      "accepted 1", "accepted 2", "completed", "accepted -5"}));
}

TEST_F(WindowTest, WindowUnderADialogOnItsThreadTakesNoInput) {
  auto dialogDef = std::make_shared<WindowDef>("TestModule", "DIALOG", "Dialog");
  dialogDef->Button("OK").Action(StandardAction::Close);
  RegisterWindowDef(dialogDef);
  std::atomic<int> lowerPresses{0};
  RunProgram([&] {
    Start([&](const std::vector<std::string>&) {
      auto lower = Window::Prepare("TestModule", "SMALL");
      lower->Open();
      lower->EventLoop([&] {
        if (lower->Event() == event::kAccepted && lower->Field() == 3) {
          ++lowerPresses;
          auto dialog = Window::Prepare("TestModule", "DIALOG");
          dialog->Open();
          dialog->EventLoop([] { return 0; });
        }
        return 0;
      });
    });
    Robot robot(backend_);
    const int lower = robot.WaitForWindow("Small Window");
    ASSERT_TRUE(robot.Press(lower, 3));
    const int dialog = robot.WaitForWindow("Dialog");
    ASSERT_NE(dialog, 0);
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_EQ(robot.Window(dialog)->ownerId, lower);
    EXPECT_FALSE(robot.Window(lower)->enabled);
    EXPECT_FALSE(robot.Press(lower, 3));
    // Even input that gets through to the thread is not delivered to the lower window.
    EXPECT_TRUE(robot.Post(lower, event::kAccepted, 3));
    ASSERT_TRUE(robot.Press(dialog, 1));
    EXPECT_TRUE(robot.WaitClosed(dialog));
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_TRUE(robot.Window(lower)->enabled);
    EXPECT_EQ(lowerPresses.load(), 1);
    // Program end closes the remaining window of the other thread.
  });
  EXPECT_EQ(lowerPresses.load(), 1);
  EXPECT_TRUE(backend_->Windows().empty());
}

TEST_F(WindowTest, OnlyAlertedKeysReachTheProcedure) {
  std::vector<int> keys;
  RunProgram([&] {
    Start([&](const std::vector<std::string>&) {
      auto w = Window::Prepare("TestModule", "SMALL");
      w->Open();
      w->Alert(4, key::kInsert);
      w->EventLoop([&] {
        if (w->Event() == event::kAlertKey) keys.push_back(w->KeyCode());
        return 0;
      });
    });
    Robot robot(backend_);
    const int id = robot.WaitForWindow("SMALL");
    ASSERT_TRUE(robot.WaitIdle());
    robot.SendKey(id, 4, key::kDelete);
    robot.SendKey(id, 4, key::kInsert);
    ASSERT_TRUE(robot.WaitIdle());
    robot.CloseWindow(id);
    JoinAllThreads();
  });
  EXPECT_EQ(keys, std::vector<int>{key::kInsert});
}

TEST_F(WindowTest, TextThePictureCannotReadIsRejectedAndKeepsTheVariable) {
  auto def = std::make_shared<WindowDef>("TestModule", "NUMBER", "Number");
  def->Entry("n-14");
  RegisterWindowDef(def);
  std::int32_t number = 42;
  std::vector<int> events;
  RunProgram([&] {
    Start([&](const std::vector<std::string>&) {
      auto w = Window::Prepare("TestModule", "NUMBER");
      w->Bind(1, AnyRef::Of(number));
      w->Open();
      w->EventLoop([&] {
        if (w->Field() == 1) events.push_back(w->Event());
        return 0;
      });
    });
    Robot robot(backend_);
    const int id = robot.WaitForWindow("Number");
    ASSERT_TRUE(robot.Type(id, 1, "12x"));
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_EQ(number, 42);
    ASSERT_TRUE(robot.Type(id, 1, "  -7"));
    ASSERT_TRUE(robot.WaitIdle());
    robot.CloseWindow(id);
    JoinAllThreads();
  });
  EXPECT_EQ(number, -7);
  EXPECT_EQ(events, (std::vector<int>{event::kRejected, event::kAccepted}));
}

TEST_F(WindowTest, ThumbDragsAndResizesCarryTheirValues) {
  RunProgram([&] {
    auto w = Window::Prepare("TestModule", "SMALL");
    w->Open();
    w->SetChoice(4, 2);
    std::vector<int> thumbs;
    const int token = WatchControls(w->Id(), [&](const ControlView& v) {
      if (v.number == 4) thumbs.push_back(v.thumb);
    });
    EventMessage drag;
    drag.event = event::kScrollDrag;
    drag.control = 4;
    drag.screenChoice = 140;
    EventMessage sized;
    sized.event = event::kSized;
    sized.screenText = "200,150";
    PostMessage(0, drag);
    w->EventLoop([&] {
      if (w->Event() != event::kScrollDrag) return 0;
      if (w->PropNumber(4, prop::kVScrollPos) == 30) {
        // The second drag is answered by moving the thumb elsewhere.
        w->SetProp(4, prop::kVScrollPos, 60L);
        PostMessage(0, sized);
        Post(event::kCloseWindow);
      } else {
        drag.screenChoice = 30;
        PostMessage(0, drag);
      }
      return 0;
    });
    UnwatchControls(token);
    // The thumb is clamped to 0..100 and the selected row stays. What the screen reported
    // goes back once, after the event, unless the answer to it already went.
    EXPECT_EQ(thumbs, (std::vector<int>{100, 60}));
    EXPECT_EQ(w->PropNumber(4, prop::kVScrollPos), 60);
    EXPECT_EQ(w->Choice(4), 2);
    EXPECT_EQ(w->Position(0).width, 200);
    EXPECT_EQ(w->PropNumber(0, prop::kClientHeight), 150);
  });
}

TEST_F(WindowTest, AListReachesTheScreenOncePerHoldAndOnlyWhenItChanged) {
  RunProgram([&] {
    const RecordLayout layout = RowsLayout();
    Queue q(layout);
    auto add = [&q](int n, const char* name) {
      q.Field(1).SetInteger(n);
      q.Field(2).SetText(name);
      q.Add();
    };
    auto w = Window::Prepare("TestModule", "SMALL");
    w->BindList(4, &q);
    w->Open();
    std::vector<ControlView> seen;
    const int token = WatchControls(w->Id(), [&](const ControlView& v) {
      if (v.number == 4) seen.push_back(v);
    });
    add(1, "alpha");
    add(2, "a much longer name");

    w->HoldChanges(true);
    w->HoldChanges(true);
    w->Display(4);
    w->SetProp(4, prop::kVScroll, 1L);
    w->SetProp(4, prop::kVScrollPos, 30L);
    w->HoldChanges(false);
    EXPECT_TRUE(seen.empty());
    w->HoldChanges(false);
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].rows.size(), 2u);
    EXPECT_EQ(seen[0].rows[1][1], "a much longer name");
    EXPECT_TRUE(seen[0].vscroll);
    EXPECT_EQ(seen[0].thumb, 30);

    // Shorter rows written over longer ones, fewer rows than before.
    q.Free();
    add(3, "b");
    w->Display(4);
    ASSERT_EQ(seen.size(), 2u);
    ASSERT_EQ(seen[1].rows.size(), 1u);
    EXPECT_EQ(seen[1].rows[0][1], "b");
    // A property only the program sets is not sent again unchanged; the thumb always is.
    w->SetProp(4, prop::kVScroll, 1L);
    EXPECT_EQ(seen.size(), 2u);
    w->SetProp(4, prop::kVScrollPos, 30L);
    EXPECT_EQ(seen.size(), 3u);
    w->SetProp(4, prop::kVScroll, 0L);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_FALSE(seen[3].vscroll);
    UnwatchControls(token);
    w->Close();
  });
}

// A list shown again sends nothing while its queue is unchanged, but a queue that took the
// place of another at the same address, with as many changes, is new to it.
TEST_F(WindowTest, AQueueInTheAddressOfAnotherIsShownAnew) {
  RunProgram([&] {
    const RecordLayout layout = RowsLayout();
    std::optional<Queue> q;
    auto fill = [&](const char* name) {
      q.emplace(layout);
      q->Field(1).SetInteger(1);
      q->Field(2).SetText(name);
      q->Add();
    };
    fill("first");
    auto w = Window::Prepare("TestModule", "SMALL");
    w->BindList(4, &*q);
    w->Open();
    std::vector<std::string> shown;
    const int token = WatchControls(w->Id(), [&](const ControlView& v) {
      if (v.number == 4 && !v.rows.empty()) shown.push_back(v.rows[0][1]);
    });
    w->Display(4);
    fill("second");
    w->Display(4);
    UnwatchControls(token);
    EXPECT_EQ(shown, std::vector<std::string>{"second"});
    w->Close();
  });
}

TEST_F(WindowTest, ListCellsLoseTheirBlankOrZeroPaddingOnly) {
  RunProgram([&] {
    const RecordLayout layout = RowsLayout();
    Queue q(layout);
    // Raw 20-byte names: padding of blanks and zeros mixed, across whole 8-byte words.
    const std::string names[] = {
        std::string("ab  cd") + std::string("\0 \0 \0\0  \0 \0 \0 ", 14),
        std::string(15, ' ') + "x" + std::string(4, ' '),
        std::string("\0 \0 \0 \0 \0 \0 \0 \0 \0 \0 ", 20),
        std::string("@") + std::string(19, '\0'),
        std::string("12345678901234567890"),
    };
    for (const std::string& name : names) {
      q.Field(1).SetInteger(1);
      std::memcpy(q.Field(2).Address(), name.data(), 20);
      q.Add();
    }
    auto w = Window::Prepare("TestModule", "SMALL");
    w->BindList(4, &q);
    w->Open();
    std::vector<ControlView> seen;
    const int token = WatchControls(w->Id(), [&](const ControlView& v) {
      if (v.number == 4) seen.push_back(v);
    });
    // Twice: the second fill reuses the parsed pictures and must format alike. A display
    // while the queue stays as it was sends nothing.
    for (int pass = 0; pass < 2; ++pass) {
      ASSERT_TRUE(q.Get(1));
      ASSERT_TRUE(q.Put());
      w->Display(4);
      ASSERT_EQ(seen.size(), static_cast<std::size_t>(pass + 1));
      w->Display(4);
      ASSERT_EQ(seen.size(), static_cast<std::size_t>(pass + 1));
      const auto& rows = seen.back().rows;
      ASSERT_EQ(rows.size(), 5u);
      EXPECT_EQ(rows[0][1], "ab  cd");
      EXPECT_EQ(rows[1][1], std::string(15, ' ') + "x");
      EXPECT_EQ(rows[2][1], "");
      EXPECT_EQ(rows[3][1], "@");
      EXPECT_EQ(rows[4][1], "12345678901234567890");
    }
    UnwatchControls(token);
    w->Close();
  });
}

TEST_F(WindowTest, HandlerResultsSteerTheDefaultAction) {
  // A handler returning 1 for CloseWindow keeps the window open; -1 leaves at once.
  std::vector<int> events;
  RunProgram([&] {
    auto w = Window::Prepare("TestModule", "SMALL");
    w->Open();
    int closes = 0;
    w->EventLoop([&] {
      events.push_back(w->Event());
      if (w->Event() == event::kOpenWindow) {
        Post(event::kCloseWindow);
        Post(event::kCloseWindow);
        Post(event::kUser);
      }
      if (w->Event() == event::kCloseWindow) return ++closes == 1 ? 1 : 0;
      return 0;
    });
    EXPECT_FALSE(w->IsOpen());
  });
  EXPECT_EQ(events, (std::vector<int>{event::kOpenWindow, event::kSized, event::kCloseWindow,
                                      event::kCloseWindow}));
}

TEST_F(WindowTest, DialogsAreAnsweredByTheResponderAndRecorded) {
  backend_->PushAnswer(kButtonNo);
  EXPECT_EQ(Message("Sure?", "Ask", MessageIcon::Question, kButtonYes | kButtonNo, kButtonYes),
            kButtonNo);
  // Unanswered: the default button, else the first button of the set.
  EXPECT_EQ(Message("Again?", "", MessageIcon::None, kButtonYes | kButtonNo, kButtonNo), kButtonNo);
  EXPECT_EQ(Message("Retry?", "", MessageIcon::None, kButtonRetry | kButtonCancel), kButtonRetry);
  std::string name = "old.pdf";
  EXPECT_FALSE(FileDialog("Pick", name, "PDF Files|*.pdf"));
  EXPECT_EQ(name, "old.pdf");
  backend_->PushFile("/tmp/a.pdf");
  EXPECT_TRUE(FileDialog("Pick", name, "PDF Files|*.pdf"));
  EXPECT_EQ(name, "/tmp/a.pdf");
  auto t = backend_->Transcript();
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[0].kind, "message");
  EXPECT_EQ(t[0].text, "Sure?");
  EXPECT_EQ(t[0].buttons, kButtonYes | kButtonNo);
  EXPECT_EQ(t[3].kind, "file");
  EXPECT_EQ(t[3].text, "PDF Files|*.pdf");
}

TEST(HaltTest, HaltEndsTheProcessWithItsCode) {
  EXPECT_EXIT(
      {
        InstallHeadlessBackend();
        Halt(3, "fatal");
      },
      ::testing::ExitedWithCode(3), "");
}

}  // namespace
}  // namespace rt
