// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/StepLocator.h"

#include "framework/browse/BrowseManager.h"
#include "framework/window/WindowController.h"
#include "platform/runtime/values/Text.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/KeyChar.h"
#include "platform/runtime/windows/Window.h"

namespace {

rt::Window* WindowOf(BrowseManager* browse) {
  if (browse && browse->Window && browse->Window->MyWindow) return browse->Window->MyWindow;
  return rt::Window::Active();
}

}  // namespace

void StepLocator::Init(std::int32_t control, const rt::AnyRef& freeElement, bool noCase,
                       ::BrowseManager& browse) {
  ViewManager = &browse;
  BrowseManager = &browse;
  Init(control, freeElement, noCase);
}

void StepLocator::Kill() {
  FreeElement = rt::AnyRef();
}

std::string StepLocator::GetShadow() {
  return {};
}

void StepLocator::Init(std::int32_t control, const rt::AnyRef& freeElement, bool noCase) {
  FreeElement = freeElement;
  Control = control;
  NoCase = noCase ? 1 : 0;
}

void StepLocator::Reset() {}

void StepLocator::Set() {}

void StepLocator::ResetFreeElement(const rt::AnyRef& field) {
  FreeElement = field;
  FreeElement.Clear();
  SetShadow("");
}

void StepLocator::SetAlerts(std::int32_t listControl) {
  // The list hands the procedure only the keys alerted on it: without these, typing into
  // the list would never reach TakeKey.
  rt::Window* w = WindowOf(BrowseManager);
  if (!w || !listControl) return;
  for (int code : rt::CharacterKeys())
    w->Alert(listControl, code);
}

void StepLocator::SetEnabled(bool enabled) {
  if (!Control) return;
  if (rt::Window* w = WindowOf(BrowseManager)) w->Disable(Control, !enabled);
}

void StepLocator::SetShadow(std::string_view) {}

bool StepLocator::TakeAccepted() {
  return false;
}

bool StepLocator::TakeKey() {
  rt::Window* w = WindowOf(BrowseManager);
  if (!w || FreeElement.IsNull() || !BrowseManager) return false;
  // Any key that types a character locates by it.
  char key = rt::KeyChar(w->KeyCode());
  if (key == 0) return false;
  if (NoCase) key = rt::UpperChar(key);
  bool moved = false;
  if (BrowseManager->ListQueue && BrowseManager->ListQueue->Records() > 0) {
    BrowseManager->ScrollOne(rt::event::kScrollDown);
    BrowseManager->UpdateBuffer();
    moved = true;
  }
  const std::string text = FreeElement.Text();
  char first = text.empty() ? '\0' : text.front();
  if (NoCase) first = rt::UpperChar(first);
  if (first == key) return moved;
  std::string value(1, key);
  // In a descending order, code 254 after the character reaches the highest text that
  // starts with it. A number would not read with it (and become 0, the far end).
  if (ViewManager && !ViewManager->FreeElementAscending() && FreeElement.IsText())
    value += static_cast<char>(254);
  FreeElement.SetText(value);
  return true;
}

void StepLocator::UpdateWindow() {
  Set();
}
