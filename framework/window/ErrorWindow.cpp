// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/window/ErrorWindow.h"

#include <memory>
#include <vector>

#include "framework/error/ErrorManager.h"
#include "framework/error/HistoryPresenter.h"
#include "framework/window/HistoryListHandler.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace {

// Button texts by bit number.
constexpr const char* kButtonTexts[kErrorMaxButtons] = {"O&k",    "&Yes",    "&No",     "&Abort",
                                                        "&Retry", "&Ignore", "&Cancel", "&Help"};

}  // namespace

void RegisterErrorWindow() {
  if (rt::FindWindowDef(kErrorWindowModule, kErrorWindowName)) return;
  auto def = std::make_shared<rt::WindowDef>(kErrorWindowModule, kErrorWindowName, "Error");
  def->font = "Microsoft Sans Serif";
  def->fontSize = 8;
  def->pos = {0, 0, 320, 96};
  def->resizable = false;
  def->modal = true;
  def->Add(rt::ctl::kImage).At(2, 4, 26, 28).number = kErrorImageControl;
  def->List("217L(2)|M~Message~S(255)@s255@42L(2)|M~Category~L(1)@s255@")
      .At(32, 4, 286, 71)
      .VScroll()
      .number = kErrorListControl;
  for (int i = 1; i <= kErrorMaxButtons; ++i) {
    // ?BUTTON1 is the leftmost (107), ?BUTTON8 the rightmost (100).
    def->Button("Button " + std::to_string(i)).At(4 + 40 * (i - 1), 80, 36, 14).Hidden().number =
        kErrorFirstButton + kErrorMaxButtons - i;
  }
  rt::RegisterWindowDef(std::move(def));
}

int PresentErrorWindow(ErrorManager& errors, std::string_view caption, std::int32_t icon,
                       int buttons, int defaultButton) {
  RegisterErrorWindow();
  auto window = rt::Window::Prepare(kErrorWindowModule, kErrorWindowName);
  if (!window) return defaultButton;
  ErrorWindow errorWindow(*window, errors);
  errorWindow.Caption.assign(caption);
  errorWindow.Icon = icon;
  errorWindow.ButtonTypes = buttons;
  errorWindow.MsgRVal = defaultButton;
  errorWindow.Style = 0;
  // The window lists the history as it is now; later messages do not show in it.
  const std::vector<HistoryEntry> shown = errors.HistorySnapshot();
  HistoryListHandler handler(*window, errors, shown);
  errorWindow.HistoryHandler = &handler;
  errorWindow.Run();
  return errorWindow.MsgRVal;
}

void RegisterErrorWindowHooks() {
  rt::RegisterHooks(rt::StartupHooks{
      .name = "error window",
      .processStart =
          [] {
            RegisterErrorWindow();
            SetHistoryPresenter(PresentErrorWindow);
          },
      .threadStart = nullptr,
      .threadEnd = nullptr,
      .processEnd = [] { SetHistoryPresenter(nullptr); },
  });
}

ErrorWindow::ErrorWindow(rt::Window& window, ErrorManager& errors) : Err(&errors), Win(&window) {}

ErrorLevel ErrorWindow::Init() {
  if (ErrorLevel r = WindowController::Init(); r != LevelQuiet) return r;
  Errors = Err;
  if (HistoryHandler) AddItem(*HistoryHandler);
  OpenWindow(*Win);
  if (!Caption.empty()) Win->SetCaption(Caption);
  PlaceButtons();
  ShowIcon();
  SetAlerts();
  // Esc answers like a cancel, Enter presses the button that has the focus (elsewhere the
  // default one), wherever the focus is.
  for (int control : {kErrorListControl, kErrorFirstButton, kErrorFirstButton + 1,
                      kErrorFirstButton + 2, kErrorFirstButton + 3, kErrorFirstButton + 4,
                      kErrorFirstButton + 5, kErrorFirstButton + 6, kErrorFirstButton + 7}) {
    Win->Alert(control, rt::key::kEsc);
    Win->Alert(control, rt::key::kEnter);
  }
  return LevelQuiet;
}

ErrorLevel ErrorWindow::Kill() {
  if (ErrorLevel r = WindowController::Kill(); r != LevelQuiet) return r;
  Caption.clear();
  if (Win) Win->Close();
  Opened = 0;
  return LevelQuiet;
}

ErrorLevel ErrorWindow::TakeAccepted() {
  if (ErrorLevel r = WindowController::TakeAccepted(); r != LevelQuiet) return r;
  const std::int32_t value = ButtonValue(Win->Accepted());
  if (value == 0) return LevelQuiet;
  MsgRVal = value;
  return LevelFatal;
}

ErrorLevel ErrorWindow::TakeCloseEvent() {
  MsgRVal = ClosedAnswer(ButtonTypes, MsgRVal);
  return WindowController::TakeCloseEvent();
}

ErrorLevel ErrorWindow::TakeEvent() {
  if (Win && Win->Event() == rt::event::kAlertKey) {
    const int key = Win->KeyCode();
    if (key == rt::key::kEsc) {
      MsgRVal = ClosedAnswer(ButtonTypes, MsgRVal);
      return LevelFatal;
    }
    if (key == rt::key::kEnter) {
      std::int32_t value = ButtonValue(Win->Field());
      for (int i = 0; value == 0 && i < MsgButtons; ++i) {
        if (Win->PropNumber(kErrorFirstButton + i, rt::prop::kDefaultButton) != 0)
          value = MsgButtonId[static_cast<std::size_t>(i)];
      }
      if (value == 0) return LevelQuiet;
      MsgRVal = value;
      return LevelFatal;
    }
  }
  return WindowController::TakeEvent();
}

void ErrorWindow::ShowIcon() {
  Win->SetProp(kErrorImageControl, rt::prop::kText,
               Icon != 0 ? std::to_string(Icon) : rt::StockIconName(rt::MessageIcon::Information));
}

std::int32_t ErrorWindow::ClosedAnswer(std::int32_t buttons, std::int32_t defaultButton) {
  // Leaving a question must never count as agreeing to it.
  for (std::int32_t answer : {rt::kButtonCancel, rt::kButtonNo, rt::kButtonOk}) {
    if (buttons & answer) return answer;
  }
  return defaultButton;
}

void ErrorWindow::PlaceButtons() {
  MsgButtons = 0;
  for (int bit = kErrorMaxButtons - 1; bit >= 0; --bit) {
    const std::int32_t value = 1 << bit;
    if ((ButtonTypes & value) == 0) continue;
    MsgButtonId[static_cast<std::size_t>(MsgButtons)] = value;
    ++MsgButtons;
    const int control = kErrorFirstButton - 1 + MsgButtons;
    Win->SetProp(control, rt::prop::kText, kButtonTexts[bit]);
    if (value == MsgRVal) {
      Win->SetProp(control, rt::prop::kDefaultButton, 1L);
      Win->Select(control);
    }
    Win->Hide(control, false);
  }
}

std::int32_t ErrorWindow::ButtonValue(int control) const {
  const int index = control - kErrorFirstButton;
  if (index < 0 || index >= MsgButtons) return 0;
  return MsgButtonId[static_cast<std::size_t>(index)];
}
