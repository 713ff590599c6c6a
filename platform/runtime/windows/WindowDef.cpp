// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/windows/WindowDef.h"

#include <mutex>

#include "platform/runtime/values/Text.h"

namespace rt {

bool IsMenuType(int type) {
  return type == ctl::kMenubar || type == ctl::kMenu || type == ctl::kItem;
}

bool IsEnterableType(int type) {
  switch (type) {
    case ctl::kEntry:
    case ctl::kText:
    case ctl::kSpin:
    case ctl::kCombo:
    case ctl::kDropList:
    case ctl::kCheck:
    case ctl::kOption:
    case ctl::kRadio:
      return true;
    default:
      return false;
  }
}

WindowDef::WindowDef(std::string module, std::string name, std::string caption_)
    : caption(std::move(caption_)), module_(std::move(module)), name_(std::move(name)) {}

ControlDef& WindowDef::Add(int type, std::string text) {
  ControlDef c;
  c.type = type;
  c.text = std::move(text);
  if (IsMenuType(type)) {
    c.number = nextMenu_--;
    c.parent = menuStack_.empty() ? 0 : menuStack_.back();
  } else {
    c.number = nextControl_++;
    if (type == ctl::kTab)
      c.parent = sheet_;
    else
      c.parent = tab_;
  }
  controls_.push_back(std::move(c));
  return controls_.back();
}

ControlDef& WindowDef::List(std::string format) {
  ControlDef& c = Add(ctl::kList);
  c.format = std::move(format);
  c.vscroll = true;
  return c;
}

ControlDef& WindowDef::Sheet() {
  tab_ = 0;
  ControlDef& c = Add(ctl::kSheet);
  sheet_ = c.number;
  return c;
}

ControlDef& WindowDef::Tab(std::string text) {
  ControlDef& c = Add(ctl::kTab, std::move(text));
  tab_ = c.number;
  return c;
}

void WindowDef::EndSheet() {
  sheet_ = 0;
  tab_ = 0;
}

ControlDef& WindowDef::MenuBar() {
  ControlDef& c = Add(ctl::kMenubar);
  menuStack_.push_back(c.number);
  return c;
}

ControlDef& WindowDef::Menu(std::string text) {
  ControlDef& c = Add(ctl::kMenu, std::move(text));
  menuStack_.push_back(c.number);
  return c;
}

ControlDef& WindowDef::Item(std::string text) {
  return Add(ctl::kItem, std::move(text));
}

// A separator is an item without text; it takes a number like any other item.
ControlDef& WindowDef::Separator() {
  return Add(ctl::kItem);
}

void WindowDef::EndMenu() {
  if (!menuStack_.empty()) menuStack_.pop_back();
}

const ControlDef* WindowDef::Find(int number) const {
  for (const auto& c : controls_)
    if (c.number == number) return &c;
  return nullptr;
}

namespace {
std::mutex gDefsMutex;
std::vector<std::shared_ptr<const WindowDef>>& Defs() {
  static std::vector<std::shared_ptr<const WindowDef>> defs;
  return defs;
}
}  // namespace

void RegisterWindowDef(std::shared_ptr<const WindowDef> def) {
  std::lock_guard lock(gDefsMutex);
  for (auto& d : Defs()) {
    if (SameName(d->Module(), def->Module()) && SameName(d->Name(), def->Name())) {
      d = std::move(def);
      return;
    }
  }
  Defs().push_back(std::move(def));
}

std::shared_ptr<const WindowDef> FindWindowDef(std::string_view module, std::string_view name) {
  std::lock_guard lock(gDefsMutex);
  for (auto& d : Defs())
    if (SameName(d->Module(), module) && SameName(d->Name(), name)) return d;
  return nullptr;
}

}  // namespace rt
