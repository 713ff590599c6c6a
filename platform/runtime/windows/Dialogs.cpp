// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/windows/Dialogs.h"

#include <cstdio>
#include <cstdlib>

#include "platform/runtime/threads/Installed.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/UiBackend.h"

namespace rt {

namespace {
Installed<std::shared_ptr<UiBackend>>& CurrentBackend() {
  static Installed<std::shared_ptr<UiBackend>> backend;
  return backend;
}
}  // namespace

std::shared_ptr<UiBackend> Backend() {
  std::shared_ptr<UiBackend> backend = CurrentBackend().Get();
  if (!backend) {
    // A program that cannot show anything must not run on without a window: this is a
    // start-up fault (the desktop or the test did not install a backend).
    std::fprintf(stderr,
                 "No user interface is installed: the program cannot show its windows and "
                 "ends.\n");
    std::fflush(nullptr);
    std::_Exit(kNoBackendExitCode);
  }
  return backend;
}

void InstallBackend(std::shared_ptr<UiBackend> backend) {
  CurrentBackend().Set(std::move(backend));
}

std::shared_ptr<HeadlessBackend> InstallHeadlessBackend() {
  auto b = std::make_shared<HeadlessBackend>();
  InstallBackend(b);
  return b;
}

int Message(std::string_view text, std::string_view caption, MessageIcon icon, int buttons,
            int defaultButton, int style) {
  if (buttons == 0) buttons = kButtonOk;
  if (defaultButton != 0 && (buttons & defaultButton) == 0) defaultButton = 0;
  return Backend()->Message(std::string(text), std::string(caption), static_cast<int>(icon),
                            buttons, defaultButton, style);
}

int Popup(std::string_view menu, int x, int y) {
  return Backend()->Popup(std::string(menu), x, y);
}

bool FileDialog(std::string_view title, std::string& fileName, std::string_view masks, int flags) {
  return Backend()->FileDialog(std::string(title), fileName, std::string(masks), flags);
}

void Stop(std::string_view text) {
  Backend()->Stop(std::string(text));
}

void Halt(int code, std::string_view text) {
  Backend()->Halt(code, std::string(text));
  std::fflush(nullptr);
  std::_Exit(code);
}

void SetWaitCursor(bool on) {
  Backend()->SetWaitCursor(on);
}
void Beep() {
  Backend()->Beep();
}

std::string StockIconName(MessageIcon icon) {
  return std::to_string(static_cast<int>(icon));
}

}  // namespace rt
