// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/EditInPlaceWindows.h"

#include <mutex>

#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace {

std::mutex preparedMutex;
std::unique_ptr<rt::Window> multiWindow;
std::unique_ptr<rt::Window> textWindow;

void RegisterDefinition(const char* name, int valueType, int valueHeight) {
  if (rt::FindWindowDef(kEditInPlaceModule, name)) return;
  auto def = std::make_shared<rt::WindowDef>(kEditInPlaceModule, name, "Edit");
  def->pos = {0, 0, 220, valueHeight + 28};
  def->modal = true;
  def->Add(valueType).At(4, 4, 212, valueHeight).number = kEditInPlaceValue;
  def->Button("OK").At(128, valueHeight + 10, 40, 14).Default().number = kEditInPlaceOk;
  def->Button("Cancel").At(176, valueHeight + 10, 40, 14).number = kEditInPlaceCancel;
  rt::RegisterWindowDef(std::move(def));
}

}  // namespace

bool PrepareEditInPlaceWindows() {
  RegisterDefinition(kEditInPlaceMultiWindow, rt::ctl::kText, 60);
  RegisterDefinition(kEditInPlaceTextWindow, rt::ctl::kEntry, 12);
  std::lock_guard lock(preparedMutex);
  if (!multiWindow) multiWindow = rt::Window::Prepare(kEditInPlaceModule, kEditInPlaceMultiWindow);
  if (!textWindow) textWindow = rt::Window::Prepare(kEditInPlaceModule, kEditInPlaceTextWindow);
  return multiWindow && textWindow;
}

void FreeEditInPlaceWindows() {
  std::lock_guard lock(preparedMutex);
  multiWindow.reset();
  textWindow.reset();
}

const rt::Window* PreparedMultiWindow() {
  std::lock_guard lock(preparedMutex);
  return multiWindow.get();
}

const rt::Window* PreparedTextWindow() {
  std::lock_guard lock(preparedMutex);
  return textWindow.get();
}

void RegisterEditInPlaceHooks() {
  rt::RegisterHooks(rt::StartupHooks{
      .name = "edit in place",
      .processStart = [] { PrepareEditInPlaceWindows(); },
      .threadStart = nullptr,
      .threadEnd = nullptr,
      .processEnd = [] { FreeEditInPlaceWindows(); },
  });
}
