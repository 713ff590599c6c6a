// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/window/WindowController.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <vector>

#include "framework/error/ErrorHooks.h"
#include "platform/runtime/expressions/Bindings.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"
#include "support/Robot.h"

namespace {

using testing_support::Robot;
using Strings = std::vector<std::string>;

// Controls of the test window: two entries, OK, Close, a sheet with two tabs (6, 7), a list
// that scrolls itself, Save.
constexpr int kName = 1;
constexpr int kCity = 2;
constexpr int kOk = 3;
constexpr int kClose = 4;
constexpr int kSheet = 5;
constexpr int kList = 8;
constexpr int kSave = 9;

std::shared_ptr<rt::WindowDef> FormWindow() {
  auto def = std::make_shared<rt::WindowDef>("WinCtlTest", "FORM", "Controller Form");
  def->Entry("s20");
  def->Entry("s20");
  def->Button("&OK");
  def->Button("&Close");
  def->Sheet();
  def->Tab("&One");
  def->Tab("&Two");
  def->EndSheet();
  def->List("40L|~N~@s20@").Immediate().VScroll();
  def->Button("&Save");
  return def;
}

// What happened on the procedure's thread, readable from the robot's thread.
class Log {
 public:
  void Add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::size_t Size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
  }
  // Entries from `start` on that contain one of the words (all when none is given).
  Strings Since(std::size_t start, const Strings& words = {}) const {
    std::lock_guard lock(mutex_);
    Strings out;
    for (std::size_t i = start; i < entries_.size(); ++i) {
      bool keep = words.empty();
      for (const auto& w : words)
        keep = keep || entries_[i].find(w) != std::string::npos;
      if (keep) out.push_back(entries_[i]);
    }
    return out;
  }

 private:
  mutable std::mutex mutex_;
  Strings entries_;
};

std::string EventEntry(int event, int control) {
  return "event " + std::to_string(event) + "/" + std::to_string(control);
}

// A component that logs what the controller asks of it, prefixed with its name.
class TestComponent : public WindowComponent {
 public:
  TestComponent(std::string name, Log& log) : name_(std::move(name) + " "), log_(log) {}

  WindowController* controller = nullptr;
  bool wantsReset = false;
  int takesEvent = 0;  // the event (with takesControl) it takes; 0: none
  int takesControl = 0;
  std::function<void()> onKill;

  void Kill() override {
    log_.Add(name_ + "kill");
    if (onKill) onKill();
  }
  void Reset(std::uint8_t force) override { log_.Add(name_ + "reset " + std::to_string(force)); }
  bool ResetRequired() override {
    log_.Add(name_ + "asked");
    return wantsReset;
  }
  void SetAlerts() override { log_.Add(name_ + "alerts"); }
  ErrorLevel TakeEvent() override {
    const rt::Window& w = *controller->MyWindow;
    log_.Add(name_ + EventEntry(w.Event(), w.Field()));
    const bool takes = takesEvent != 0 && w.Event() == takesEvent && w.Field() == takesControl;
    return takes ? LevelNotify : LevelQuiet;
  }
  void Update() override {}
  void UpdateWindow() override { log_.Add(name_ + "redraw"); }

 private:
  std::string name_;
  Log& log_;
};

class TestResizer : public ResizeTarget {
 public:
  void Kill() override { ++kills; }
  int kills = 0;
};

// A window procedure written as the application writes one.
class TestProcedure : public WindowController {
 public:
  explicit TestProcedure(rt::Window& window) : window_(window) {}

  std::uint8_t startRequest = NoRequest;
  ErrorLevel initResult = LevelQuiet;
  int vetoCloses = 0;
  std::function<void(TestProcedure&)> registrations;
  std::function<ErrorLevel(TestProcedure&)> onSave;
  ToolbarDispatcher toolbar;
  std::string nameWhileRunning;
  std::vector<int> responsesAtClose;

  rt::Window& Win() { return window_; }

  ErrorLevel Init() override {
    GlobalErrors().SetProcedureName("TestProcedure");
    Request = startRequest;
    if (ErrorLevel r = WindowController::Init(); r != LevelQuiet) return r;
    FirstField = kName;
    Errors = &GlobalErrors();
    SetToolbar(toolbar);
    if (registrations) registrations(*this);
    if (initResult != LevelQuiet) return initResult;
    OpenWindow(window_);
    SetAlerts();
    return LevelQuiet;
  }
  ErrorLevel Kill() override {
    const ErrorLevel r = WindowController::Kill();
    if (r == LevelQuiet) GlobalErrors().SetProcedureName({}, true);
    return r;
  }
  ErrorLevel TakeAccepted() override {
    nameWhileRunning = GlobalErrors().GetProcedureName();
    return WindowController::TakeAccepted();
  }
  ErrorLevel TakeCloseEvent() override {
    responsesAtClose.push_back(Response);
    if (vetoCloses > 0) {
      --vetoCloses;
      return LevelNotify;
    }
    return WindowController::TakeCloseEvent();
  }
  ErrorLevel SaveInsert() override { return onSave ? onSave(*this) : LevelQuiet; }
  ErrorLevel SaveChange() override { return onSave ? onSave(*this) : LevelQuiet; }

 private:
  rt::Window& window_;
};

class WindowControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::ClearHooks();
    RegisterErrorHooks();
    backend_ = rt::InstallHeadlessBackend();
    rt::RegisterWindowDef(FormWindow());
  }
  void TearDown() override { rt::ClearHooks(); }

  // Runs a procedure on a started thread while `drive` acts as the user; the window is then
  // closed when still open. `after` runs on the procedure's thread once Run returned.
  void RunProcedure(const std::function<void(TestProcedure&)>& setup,
                    const std::function<void(Robot&, int windowId)>& drive,
                    const std::function<void(TestProcedure&)>& after = {}) {
    rt::RunProgram([&] {
      StartGlobalErrors();
      rt::Start([&](const std::vector<std::string>&) {
        auto window = rt::Window::Prepare("WinCtlTest", "FORM");
        TestProcedure procedure(*window);
        setup(procedure);
        result_ = procedure.Run();
        if (after) after(procedure);
      });
      Robot robot(backend_);
      const int id = robot.WaitForWindow("Controller Form");
      ASSERT_NE(id, 0);
      ASSERT_TRUE(robot.WaitIdle());
      drive(robot, id);
      if (robot.Window(id)) robot.CloseWindow(id);
      EXPECT_TRUE(robot.WaitClosed(id));
      rt::JoinAllThreads();
    });
  }

  std::shared_ptr<rt::HeadlessBackend> backend_;
  std::uint8_t result_ = 0;
};

// The whole life of a procedure; its Close button sets the response, and the close still
// passes TakeCloseEvent, which vetoes it once.
TEST_F(WindowControllerTest, ProcedureRunsFromInitThroughAskToKill) {
  Log log;
  TestComponent component("a", log);
  TestResizer resizer;
  int depthBefore = 0;
  int depthAfter = 0;
  std::string nameAfterRun = "unset";
  std::string nameWhileRunning;
  std::vector<int> responsesAtClose;
  bool stillOpenAfterVeto = false;
  RunProcedure(
      [&](TestProcedure& p) {
        depthBefore = rt::Bindings::Current().Depth();
        component.controller = &p;
        p.vetoCloses = 1;
        p.registrations = [&](TestProcedure& self) {
          self.AddButton(kClose, RequestCompleted);
          self.AddItem(component);
          self.SetResize(resizer);
        };
      },
      [&](Robot& robot, int id) {
        EXPECT_TRUE(robot.Press(id, kClose));
        ASSERT_TRUE(robot.WaitIdle());
        stillOpenAfterVeto = robot.Window(id).has_value();
        EXPECT_TRUE(robot.Press(id, kClose));
      },
      [&](TestProcedure& p) {
        nameAfterRun = GlobalErrors().GetProcedureName();
        nameWhileRunning = p.nameWhileRunning;
        depthAfter = rt::Bindings::Current().Depth();
        responsesAtClose = p.responsesAtClose;
        EXPECT_EQ(p.Inited, 3);  // opened, and the Sized that follows opening was seen
        EXPECT_EQ(p.toolbar.List, nullptr);
        EXPECT_EQ(p.Kill(), LevelNotify);  // a second Kill does nothing
      });
  EXPECT_TRUE(stillOpenAfterVeto);
  EXPECT_EQ(responsesAtClose, (std::vector<int>{RequestCompleted, RequestCompleted}));
  EXPECT_EQ(result_, RequestCompleted);
  EXPECT_EQ(nameWhileRunning, "TestProcedure");
  EXPECT_EQ(nameAfterRun, "");
  EXPECT_EQ(depthAfter, depthBefore);
  EXPECT_EQ(log.Since(0, {"kill", "alerts"}), (Strings{"a alerts", "a kill"}));
  EXPECT_EQ(resizer.kills, 1);
}

TEST_F(WindowControllerTest, InitFailureSkipsTheLoopButKillRunsAndTheRequestIsCancelled) {
  Log log;
  TestComponent component("a", log);
  std::uint8_t result = 0;
  std::string nameAfter = "unset";
  rt::RunProgram([&] {
    StartGlobalErrors();
    auto window = rt::Window::Prepare("WinCtlTest", "FORM");
    TestProcedure procedure(*window);
    procedure.initResult = LevelNotify;
    procedure.registrations = [&](TestProcedure& self) { self.AddItem(component); };
    const int depth = rt::Bindings::Current().Depth();
    result = procedure.Run();
    EXPECT_EQ(rt::Bindings::Current().Depth(), depth);
    nameAfter = GlobalErrors().GetProcedureName();
    EXPECT_FALSE(window->IsOpen());
  });
  EXPECT_EQ(result, RequestCancelled);
  EXPECT_EQ(log.Since(0), (Strings{"a kill"}));
  EXPECT_EQ(nameAfter, "");
}

TEST_F(WindowControllerTest, ComponentThatTakesAnEventHidesItAndOneResetPerEvent) {
  Log log;
  TestComponent first("a", log);
  TestComponent second("b", log);
  first.takesEvent = rt::event::kAccepted;
  first.takesControl = kName;
  first.wantsReset = second.wantsReset = true;
  Strings taken;
  Strings passed;
  RunProcedure(
      [&](TestProcedure& p) {
        first.controller = second.controller = &p;
        p.registrations = [&](TestProcedure& self) {
          self.AddItem(first);
          self.AddItem(second);
        };
      },
      [&](Robot& robot, int id) {
        const std::size_t start = log.Size();
        EXPECT_TRUE(robot.Type(id, kName, "x"));
        ASSERT_TRUE(robot.WaitIdle());
        const std::size_t middle = log.Size();
        taken = log.Since(start);
        EXPECT_TRUE(robot.Press(id, kOk));
        ASSERT_TRUE(robot.WaitIdle());
        passed = log.Since(middle);
      });
  // Taken by the first: the second never sees it and nobody is asked about a reset.
  EXPECT_EQ(taken, (Strings{"a " + EventEntry(rt::event::kAccepted, kName)}));
  // Passed on: both see it, the first "yes" resets the window once and ends the asking.
  EXPECT_EQ(passed, (Strings{"a " + EventEntry(rt::event::kAccepted, kOk),
                             "b " + EventEntry(rt::event::kAccepted, kOk), "a asked", "a reset 0",
                             "b reset 0", "a redraw", "b redraw"}));
}

TEST_F(WindowControllerTest, WhichEventsResetTheWindow) {
  Log log;
  TestComponent component("a", log);
  Strings afterOpen;
  Strings later;
  const Strings watched{"reset", "asked", EventEntry(rt::event::kResize, 0)};
  RunProcedure(
      [&](TestProcedure& p) {
        component.controller = &p;
        p.registrations = [&](TestProcedure& self) {
          self.ResetOnGainFocus = 1;
          self.AddItem(component);
        };
      },
      [&](Robot& robot, int id) {
        afterOpen = log.Since(0, {"reset", EventEntry(rt::event::kResize, 0)});
        const std::size_t start = log.Size();
        EXPECT_TRUE(robot.Post(id, rt::event::kSized));
        ASSERT_TRUE(robot.WaitIdle());
        EXPECT_TRUE(robot.Post(id, rt::event::kMouseIn, kName));
        EXPECT_TRUE(robot.Post(id, rt::event::kScrollDown, kList));  // scrolls itself
        EXPECT_TRUE(robot.Post(id, rt::event::kScrollDown, kName));
        EXPECT_TRUE(robot.Post(id, rt::event::kLoseFocus));
        EXPECT_TRUE(robot.Post(id, rt::event::kGainFocus));
        // Another thread asks the window to come forward.
        rt::EventMessage note;
        note.event = rt::event::kNotify;
        note.windowId = id;
        note.notifyCode = rt::event::kGainFocus;
        EXPECT_TRUE(rt::PostMessage(robot.Window(id)->thread, note));
        ASSERT_TRUE(robot.WaitIdle());
        later = log.Since(start, watched);
      });
  // Open resets; the Sized that follows opening does not, but is followed by a resize event.
  EXPECT_EQ(afterOpen, (Strings{"a reset 0", "a " + EventEntry(rt::event::kResize, 0)}));
  EXPECT_EQ(later,
            (Strings{// a later Sized resets, then its resize event
                     "a reset 0", "a asked", "a " + EventEntry(rt::event::kResize, 0), "a asked",
                     // only the scroll of a control that does not scroll itself asks
                     "a asked",
                     // regaining focus after losing it forces the reset
                     "a reset 1",
                     // the notification asks, and the gain-focus it posts resets
                     "a asked", "a reset 0"}));
}

TEST_F(WindowControllerTest, HistoryKeyRecallsTheLastCompletedValues) {
  rt::RecordLayout layout;
  layout.AddField("T:Name", rt::FieldType::String, 20);
  layout.AddField("T:City", rt::FieldType::String, 20);
  std::vector<char> live(layout.Size(), ' ');
  std::vector<char> copy(layout.Size(), ' ');
  Strings screens;
  RunProcedure(
      [&](TestProcedure& p) {
        p.Win().Bind(kName, rt::AnyRef(live.data(), layout.Field(1)));
        p.Win().Bind(kCity, rt::AnyRef(live.data(), layout.Field(2)));
        p.registrations = [&](TestProcedure& self) {
          self.HistoryKey = rt::key::kCtrlH;
          self.OKControl = kOk;
          EXPECT_EQ(self.AddHistoryFile(RecordReference::Of(live.data(), layout),
                                        RecordReference::Of(copy.data(), layout)),
                    LevelQuiet);
          EXPECT_EQ(self.AddHistoryField(kName, 1), LevelQuiet);
          EXPECT_EQ(self.AddHistoryField(kCity, 2), LevelQuiet);
        };
      },
      [&](Robot& robot, int id) {
        EXPECT_TRUE(robot.Type(id, kName, "first"));
        EXPECT_TRUE(robot.Type(id, kCity, "Oslo"));
        EXPECT_TRUE(robot.Press(id, kOk));  // completes: the record is copied
        ASSERT_TRUE(robot.WaitIdle());
        EXPECT_TRUE(robot.Type(id, kName, "second"));
        EXPECT_TRUE(robot.Type(id, kCity, "Rome"));
        EXPECT_TRUE(robot.SendKey(id, kName, rt::key::kCtrlH));
        ASSERT_TRUE(robot.WaitIdle());
        screens = {robot.ScreenText(id, kName), robot.ScreenText(id, kCity)};
        // The toolbar's history button recalls the focused (first) field.
        EXPECT_TRUE(robot.Type(id, kName, "third"));
        EXPECT_TRUE(robot.Post(id, rt::event::kAccepted, kToolbarHistory));
        ASSERT_TRUE(robot.WaitIdle());
        screens.push_back(robot.ScreenText(id, kName));
      });
  // Only the field whose control had the key was recalled.
  EXPECT_EQ(screens, (Strings{"first", "Rome", "first"}));
  EXPECT_EQ(std::string(live.data() + 20, 4), "Rome");
}

TEST(WindowControllerHistory, UnusableHistoryRegistrationsAreRefused) {
  rt::RecordLayout layout;
  layout.AddField("T:Name", rt::FieldType::String, 20);
  std::vector<char> live(layout.Size(), ' ');
  std::vector<char> copy(layout.Size(), 'x');
  const RecordReference liveRef = RecordReference::Of(live.data(), layout);
  WindowController controller;
  EXPECT_EQ(controller.AddHistoryField(1, 1), LevelNotify);  // no history file yet
  // A buffer smaller than its layout would be written past its end; a null one not at all.
  EXPECT_EQ(controller.AddHistoryFile(liveRef, {copy.data(), &layout, 5}), LevelNotify);
  EXPECT_EQ(controller.AddHistoryFile(liveRef, {nullptr, &layout, layout.Size()}), LevelNotify);
  ASSERT_EQ(controller.AddHistoryFile(liveRef, RecordReference::Of(copy.data(), layout)),
            LevelQuiet);
  EXPECT_EQ(controller.AddHistoryField(1, 0), LevelNotify);
  EXPECT_EQ(controller.AddHistoryField(1, 2), LevelNotify);
  EXPECT_EQ(controller.AddHistoryField(1, 1), LevelQuiet);
  controller.RestoreField(2);  // no history for this control
  EXPECT_EQ(live[0], ' ');
  controller.RestoreField(1);
  EXPECT_EQ(std::string(live.data(), 20), std::string(20, 'x'));
}

TEST_F(WindowControllerTest, SaveControlCompletesAsASaveOfTheOriginalRequest) {
  std::vector<int> seen;  // the request and the one kept from before the save
  RunProcedure(
      [&](TestProcedure& p) {
        p.startRequest = InsertRecord;
        p.registrations = [](TestProcedure& self) { self.SaveControl = kSave; };
        p.onSave = [&](TestProcedure& self) {
          seen.insert(seen.end(), {self.Request, self.BeforeSaveRequest});
          self.Request = ChangeRecord;
          return LevelNotify;
        };
      },
      [](Robot& robot, int id) {
        EXPECT_TRUE(robot.Press(id, kSave));
        ASSERT_TRUE(robot.WaitIdle());
      });
  EXPECT_EQ(seen, (std::vector<int>{SaveRecord, InsertRecord}));
}

// A toolbar target that applies while the sheet shows its second tab.
class SheetTarget : public ToolbarTarget {
 public:
  explicit SheetTarget(Log& log) : log_(log) {}
  WindowController* controller = nullptr;
  void DisplayButtons() override {}
  void TakeEvent(std::int32_t* navigationRequest, WindowController&) override {
    log_.Add("target event");
    if (navigationRequest) *navigationRequest = NavigateNext;
  }
  void Activate() override { log_.Add("target active"); }
  bool Applies() override { return controller->MyWindow->Choice(kSheet) == 2; }

 private:
  Log& log_;
};

TEST_F(WindowControllerTest, ToolbarFollowsTheSheetAndTakesAcceptedEvents) {
  Log log;
  TestComponent component("a", log);
  SheetTarget target(log);
  std::int32_t pending = NoNavigation;
  Strings entries;
  RunProcedure(
      [&](TestProcedure& p) {
        component.controller = target.controller = &p;
        p.registrations = [&](TestProcedure& self) {
          self.VCRRequest = &pending;
          self.toolbar.AddTarget(target, 1);
          self.AddItem(component);
        };
      },
      [&](Robot& robot, int id) {
        const std::size_t start = log.Size();
        EXPECT_TRUE(robot.PickRow(id, kSheet, 2));
        EXPECT_TRUE(robot.Press(id, kOk));
        ASSERT_TRUE(robot.WaitIdle());
        entries = log.Since(start, {"target", "reset"});
      });
  EXPECT_EQ(entries, (Strings{"a reset 0", "target active", "target event"}));
  EXPECT_EQ(pending, NavigateNext);
}

TEST(WindowControllerUnit, KillReleasesEverythingOnceInRegistrationOrder) {
  Log log;
  WindowController controller;
  EXPECT_EQ(controller.Kill(), LevelNotify);  // never initialised
  const int depth = rt::Bindings::Current().Depth();
  ASSERT_EQ(controller.Init(), LevelQuiet);
  EXPECT_EQ(rt::Bindings::Current().Depth(), depth + 1);
  TestComponent first("a", log);
  TestComponent second("b", log);
  first.onKill = [&] { controller.RemoveItem(first); };  // as a browse does
  controller.AddItem(first);
  controller.AddItem(second);
  ToolbarDispatcher toolbar;
  TestResizer resizer;
  controller.SetToolbar(toolbar);
  controller.SetResize(resizer);
  EXPECT_EQ(controller.Kill(), LevelQuiet);
  EXPECT_EQ(controller.Kill(), LevelNotify);
  EXPECT_EQ(log.Since(0), (Strings{"a kill", "b kill"}));
  EXPECT_EQ(toolbar.List, nullptr);
  EXPECT_EQ(resizer.kills, 1);
  EXPECT_EQ(rt::Bindings::Current().Depth(), depth);
}

TEST(WindowControllerUnit, CancelledResponseClearsThePendingNavigationWithAToolbar) {
  std::int32_t pending = NavigateNext;
  WindowController controller;
  controller.VCRRequest = &pending;
  controller.SetResponse(RequestCancelled);  // no toolbar: kept
  EXPECT_EQ(pending, NavigateNext);
  ToolbarDispatcher toolbar;
  controller.SetToolbar(toolbar);
  controller.SetResponse(RequestCompleted);
  EXPECT_EQ(pending, NavigateNext);
  controller.SetResponse(RequestCancelled);
  EXPECT_EQ(pending, NoNavigation);
}

TEST_F(WindowControllerTest, InitClearsOnlyAPendingRightClick) {
  std::vector<int> after;
  rt::RunProgram([&] {
    auto caller = rt::Window::Prepare("WinCtlTest", "FORM");
    caller->Open();
    for (int key : {rt::key::kMouseRight, rt::key::kMouseRightUp, rt::key::kMouseLeft}) {
      caller->SetKeyCode(key);
      WindowController controller;
      static_cast<void>(controller.Init());
      static_cast<void>(controller.Kill());
      after.push_back(caller->KeyCode());
    }
    caller->Close();
  });
  EXPECT_EQ(after, (std::vector<int>{0, 0, rt::key::kMouseLeft}));
}

}  // namespace
