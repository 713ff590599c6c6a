// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/MainFrame.h"

#include <atomic>
#include <string>
#include <vector>

#include "app/BrowseData.h"
#include "app/FrameGeometry.h"
#include "app/Globals.h"
#include "app/ProcedureController.h"
#include "app/SearchDocuments.h"
#include "app/TextIndexer.h"
#include "framework/error/ErrorHooks.h"
#include "framework/window/WindowController.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"

namespace {

constexpr char kModule[] = "PageletDemo$PageletDemo001";
constexpr char kWindow[] = "P8$APPFRAME";

// Browses started from the frame that have not ended yet, and whether the frame closes once
// the last of them has.
std::atomic<int> openBrowses{0};
std::atomic<bool> closeAfterBrowses{false};
// The thread the frame runs on: program main's.
std::atomic<int> frameThread{1};

// Runs a window procedure of the View Demo menu on the thread it was started on.
void RunBrowse(int owner, void (*procedure)()) {
  procedure();
  if (--openBrowses == 0 && closeAfterBrowses.exchange(false))
    rt::Post(rt::event::kCloseWindow, 0, owner);
}

class MainFrameController : public ProcedureController {
 public:
  MainFrameController(rt::Window& window, ToolbarDispatcher& toolbar)
      : ProcedureController("MainFrame"), window_(window), toolbar_(toolbar) {}

  ErrorLevel Init() override {
    if (ErrorLevel r = InitProcedure(); r != LevelQuiet) return r;
    frameThread = rt::ThreadNumber();
    FirstField = 1;
    SetToolbar(toolbar_);
    OpenWindow(window_);
    FrameGeometry::Restore(window_.Id());
    SetAlerts();
    window_.SetProp(0, rt::prop::kFrameStatus, 0L);
    return LevelQuiet;
  }

  ErrorLevel TakeAccepted() override {
    const int accepted = MyWindow ? MyWindow->Accepted() : 0;
    if (accepted == kMainFrameBrowseData || accepted == kMainFrameSearchDocuments) {
      closeAfterBrowses = false;  // the user went on working
      ++openBrowses;
      const int owner = rt::ThreadNumber();
      void (*procedure)() = BrowseData;
      if (accepted == kMainFrameSearchDocuments) procedure = SearchDocuments;
      if (rt::Start(
              [owner, procedure](const std::vector<std::string>&) { RunBrowse(owner, procedure); },
              25000) == 0)
        --openBrowses;
    }
    return WindowController::TakeAccepted();
  }

  // The browses close before the frame: a form of theirs may ask about unsaved changes and
  // stay open, which a frame already gone would leave without a window to return to and the
  // program without an end. The frame closes when the last browse has ended.
  ErrorLevel TakeWindowEvent() override {
    if (MyWindow && MyWindow->Event() == rt::event::kCloseWindow) {
      closeAfterBrowses = true;
      if (openBrowses.load() > 0) {
        // The indexer goes on until the program ends: a form may yet keep the program open.
        for (int thread : rt::RunningThreads())
          if (thread != rt::ThreadNumber() && thread != TextIndexer::Thread())
            rt::PostCloseDown(thread);
        return LevelNotify;
      }
      closeAfterBrowses = false;
      FrameGeometry::Remember(window_.Id());
    }
    return WindowController::TakeWindowEvent();
  }

 private:
  rt::Window& window_;
  ToolbarDispatcher& toolbar_;
};

}  // namespace

void RegisterMainFrameWindow() {
  using rt::StandardAction;
  auto def = std::make_shared<rt::WindowDef>(kModule, kWindow, "Pagelet Demo");
  def->kind = rt::WindowKind::Frame;
  def->icon = "WAFRAME.ICO";
  def->font = "MS Sans Serif";
  def->pos = {0, 0, 480, 320};
  def->MenuBar();      // -1
  def->Menu("&File");  // -2
  def->Item("&Print Setup ...").Tip("Setup printer").Action(StandardAction::PrintSetup);
  def->Separator();  // -4
  def->Item("E&xit").Tip("Exit this application").Action(StandardAction::Close);
  def->EndMenu();
  def->Menu("&Edit");  // -6
  def->Item("Cu&t").Tip("Remove item to Windows Clipboard").Action(StandardAction::Cut);
  def->Item("&Copy").Tip("Copy item to Windows Clipboard").Action(StandardAction::Copy);
  def->Item("&Paste").Tip("Paste contents of Windows Clipboard").Action(StandardAction::Paste);
  def->EndMenu();
  def->Menu("&View Demo");                                                                // -10
  def->Item("&Browse Data");                                                              // -11
  def->Item("Search &Documents...").Tip("Find stored documents by the words they hold");  // -12
  def->EndMenu();
  def->Menu("&Window");  // -13
  def->Item("T&ile").Tip("Make all open windows visible").Action(StandardAction::Tile);
  def->Item("&Cascade").Tip("Stack all open windows").Action(StandardAction::Cascade);
  def->Item("&Arrange Icons").Tip("Align all window icons").Action(StandardAction::ArrangeIcons);
  def->EndMenu();
  def->Menu("&Help");  // -17
  def->Item("&Contents")
      .Tip("View the contents of the help file")
      .Action(StandardAction::HelpContents);
  def->Item("&Search for Help On...")
      .Tip("Search for help on a subject")
      .Action(StandardAction::HelpSearch);
  def->Item("&How to Use Help").Tip("How to use Windows Help").Action(StandardAction::HelpOnHelp);
  def->EndMenu();
  def->EndMenu();
  rt::RegisterWindowDef(std::move(def));
}

void MainFrame() {
  auto window = rt::Window::Prepare(kModule, kWindow);
  if (!window) return;
  ToolbarDispatcher toolbar;
  auto controller = std::make_unique<MainFrameController>(*window, toolbar);
  GlobalResponse() = controller->Run();
  controller.reset();
  window.reset();
}

void CloseMainFrame() {
  // The event File > Exit posts; the frame's thread takes it up in its event loop.
  rt::Post(rt::event::kCloseWindow, 0, frameThread.load());
}
