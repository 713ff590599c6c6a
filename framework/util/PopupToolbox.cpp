// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/util/PopupToolbox.h"

#include <algorithm>
#include <utility>

#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace {

// Asks the toolbox to lay out its buttons again from the items last published.
constexpr int kRefreshEvent = rt::event::kTimer;

// Button sizes in dialog units.
constexpr int kIconButtonWidth = 20;
constexpr int kIconButtonHeight = 18;
constexpr int kTextButtonHeight = 14;
constexpr int kCharWidth = 4;
constexpr int kTextPadding = 12;
constexpr int kMinTextButtonWidth = 24;

void EnsureDefinition() {
  if (rt::FindWindowDef(PopupToolbox::kModule, PopupToolbox::kWindowName)) return;
  // An empty tool window: the buttons are made at run time.
  auto def =
      std::make_shared<rt::WindowDef>(PopupToolbox::kModule, PopupToolbox::kWindowName, "Toolbox");
  def->kind = rt::WindowKind::Tool;
  def->font = "Microsoft Sans Serif";
  def->fontSize = 8;
  def->resizable = false;
  def->pos = {0, 0, kMinTextButtonWidth, kTextButtonHeight};
  rt::RegisterWindowDef(std::move(def));
}

// A button's tip: the text without its "&" marks; "&&" stands for one "&".
std::string TipText(std::string_view text) {
  std::string tip;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        tip.push_back('&');
        ++i;
      }
      continue;
    }
    tip.push_back(text[i]);
  }
  return tip;
}

int TextButtonWidth(std::string_view text) {
  const int chars = static_cast<int>(TipText(text).size());
  return std::max(kMinTextButtonWidth, chars * kCharWidth + kTextPadding);
}

}  // namespace

PopupToolbox::PopupToolbox(int ownerThread, int parentWindowId, bool clearKeyCode)
    : ownerThread_(ownerThread), parentWindowId_(parentWindowId), clearKeyCode_(clearKeyCode) {}

bool PopupToolbox::Start(std::string caption, std::function<void()> closed,
                         rt::Window** thisWindow) {
  EnsureDefinition();
  closed_ = std::move(closed);
  thisWindow_ = thisWindow;
  auto self = shared_from_this();
  // Held while the thread starts, so that thread_ is known before the thread can end.
  std::lock_guard lock(mutex_);
  running_ = true;
  thread_ = rt::Start([self, caption = std::move(caption)](const std::vector<std::string>&) {
    self->Run(caption);
  });
  if (thread_ == 0) running_ = false;
  return thread_ != 0;
}

void PopupToolbox::Publish(std::vector<PopupItemEntry> items) {
  std::lock_guard lock(mutex_);
  items_ = std::move(items);
  // Before the toolbox thread has its event queue this finds nothing to post to; its first
  // layout, made after its window opened, reads these items anyway.
  if (running_ && thread_ != 0) rt::Post(kRefreshEvent, 0, thread_);
}

void PopupToolbox::Close() {
  std::unique_lock lock(mutex_);
  // The flag is cleared under the lock before the thread ends, so its queue still exists
  // here: a close-down posted now reaches the toolbox, even one not open yet.
  if (running_ && thread_ != 0) rt::PostCloseDown(thread_);
  ended_.wait(lock, [&] { return !running_; });
}

bool PopupToolbox::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

int PopupToolbox::WindowId() const {
  std::lock_guard lock(mutex_);
  return windowId_;
}

std::vector<PopupItemEntry> PopupToolbox::Items() const {
  std::lock_guard lock(mutex_);
  return items_;
}

void PopupToolbox::Run(const std::string& caption) {
  if (auto window = rt::Window::Prepare(kModule, kWindowName)) {
    window->OpenOver(parentWindowId_);
    window->SetCaption(caption);
    {
      std::lock_guard lock(mutex_);
      windowId_ = window->Id();
      if (thisWindow_) *thisWindow_ = window.get();
    }
    std::vector<Button> buttons;
    Layout(*window, buttons);
    window->EventLoop([&] {
      switch (window->Event()) {
        case rt::event::kAccepted:
          Press(*window, buttons, window->Field());
          return 1;
        case kRefreshEvent:
          Layout(*window, buttons);
          return 1;
        default:
          return 0;
      }
    });
    std::lock_guard lock(mutex_);
    windowId_ = 0;
    if (thisWindow_) *thisWindow_ = nullptr;
  }
  // The owning thread tidies up its own window (controls disabled while the toolbox was
  // open); the task keeps this object alive until it has run.
  auto self = shared_from_this();
  rt::PostTask(ownerThread_, [self] {
    if (!self->detached_ && self->closed_) self->closed_();
  });
  {
    std::lock_guard lock(mutex_);
    running_ = false;
  }
  ended_.notify_all();
}

void PopupToolbox::Layout(rt::Window& window, std::vector<Button>& buttons) {
  const std::vector<PopupItemEntry> items = Items();
  int x = 0;
  int rowHeight = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const PopupItemEntry& item = items[i];
    if (i == buttons.size()) {
      const int control = window.CreateControl(rt::ctl::kButton);
      window.Hide(control);
      buttons.push_back({control, {}});
    }
    Button& b = buttons[i];
    b.name = std::string(item.Name.View());
    const std::string text(item.Text.View());
    const bool hasIcon = item.Icon.Length() > 0;
    int width = 0;
    int height = 0;
    if (hasIcon) {
      window.SetProp(b.control, rt::prop::kText, std::string_view());
      window.SetProp(b.control, rt::prop::kIcon, "~" + std::string(item.Icon.View()));
      window.SetProp(b.control, rt::prop::kTip, TipText(text));
      width = kIconButtonWidth;
      height = kIconButtonHeight;
    } else {
      window.SetProp(b.control, rt::prop::kIcon, std::string_view());
      window.SetProp(b.control, rt::prop::kTip, std::string_view());
      window.SetProp(b.control, rt::prop::kText, text);
      width = TextButtonWidth(text);
      height = kTextButtonHeight;
    }
    window.SetPosition(b.control, {x, 0, width, height});
    x += width;
    rowHeight = std::max(rowHeight, height);
    window.Disable(b.control, item.Disabled == 1);
    window.Hide(b.control, false);
  }
  while (buttons.size() > items.size()) {
    window.DestroyControl(buttons.back().control);
    buttons.pop_back();
  }
  rt::Rect pos = window.Position(0);
  pos.width = x;
  pos.height = rowHeight;
  window.SetPosition(0, pos);
}

void PopupToolbox::Press(rt::Window& window, const std::vector<Button>& buttons, int control) {
  auto b = std::find_if(buttons.begin(), buttons.end(),
                        [&](const Button& button) { return button.control == control; });
  if (b == buttons.end()) return;
  const std::vector<PopupItemEntry> items = Items();
  auto item = std::find_if(items.begin(), items.end(), [&](const PopupItemEntry& entry) {
    return entry.Name.View() == b->name;
  });
  // An item disabled since the button was laid out does nothing.
  if (item == items.end() || item->Disabled == 1) return;
  if (item->Event == 0 && !item->MimicMode) return;
  if (clearKeyCode_) window.SetKeyCode(0);
  rt::Post(item->MimicMode ? rt::event::kAccepted : item->Event, item->ControlID, ownerThread_);
}
