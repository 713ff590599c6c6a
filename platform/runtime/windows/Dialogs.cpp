#include "platform/runtime/windows/Dialogs.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/UiBackend.h"

namespace rt {

namespace {
std::mutex gBackendMutex;
std::shared_ptr<UiBackend>& CurrentBackend() {
  static std::shared_ptr<UiBackend> backend;
  return backend;
}
}  // namespace

UiBackend& Backend() {
  std::lock_guard lock(gBackendMutex);
  auto& b = CurrentBackend();
  if (!b) b = std::make_shared<HeadlessBackend>();
  return *b;
}

void InstallBackend(std::shared_ptr<UiBackend> backend) {
  std::lock_guard lock(gBackendMutex);
  CurrentBackend() = std::move(backend);
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
  return Backend().Message(std::string(text), std::string(caption), static_cast<int>(icon), buttons,
                           defaultButton, style);
}

int Popup(std::string_view menu, int x, int y) {
  return Backend().Popup(std::string(menu), x, y);
}

bool FileDialog(std::string_view title, std::string& fileName, std::string_view masks, int flags) {
  return Backend().FileDialog(std::string(title), fileName, std::string(masks), flags);
}

void Stop(std::string_view text) {
  Backend().Stop(std::string(text));
}

void Halt(int code, std::string_view text) {
  Backend().Halt(code, std::string(text));
  std::fflush(nullptr);
  std::_Exit(code);
}

void SetWaitCursor(bool on) {
  Backend().SetWaitCursor(on);
}
void Beep() {
  Backend().Beep();
}

std::string StockIconName(MessageIcon icon) {
  return std::to_string(static_cast<int>(icon));
}

}  // namespace rt
