// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Window definitions, declared in C++ and registered under (resource module, window name).
// Controls are numbered in definition order from 1; menu bars, menus, items and separators
// from -1 downward.

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

// Control types.
namespace ctl {
inline constexpr int kString = 1;
inline constexpr int kString2 = 2;
inline constexpr int kImage = 3;
inline constexpr int kRegion = 4;
inline constexpr int kLine = 5;
inline constexpr int kBox = 6;
inline constexpr int kEllipse = 7;
inline constexpr int kEntry = 8;
inline constexpr int kButton = 9;
inline constexpr int kPrompt = 10;
inline constexpr int kOption = 11;
inline constexpr int kCheck = 12;
inline constexpr int kGroup = 13;
inline constexpr int kList = 14;
inline constexpr int kCombo = 15;
inline constexpr int kSpin = 16;
inline constexpr int kText = 17;
inline constexpr int kMenu = 19;
inline constexpr int kItem = 20;
inline constexpr int kRadio = 21;
inline constexpr int kMenubar = 22;
inline constexpr int kToolbar = 24;
inline constexpr int kDropList = 34;
inline constexpr int kSheet = 37;
inline constexpr int kTab = 38;
inline constexpr int kPanel = 39;
inline constexpr int kProgress = 40;
}  // namespace ctl

bool IsMenuType(int type);
// Controls whose value the user enters (accepted in turn by the accept-all pass).
bool IsEnterableType(int type);

// The runtime's built-in actions of buttons and menu items.
enum class StandardAction {
  None,
  Close,
  Cut,
  Copy,
  Paste,
  Tile,
  Cascade,
  ArrangeIcons,
  PrintSetup,
  HelpContents,
  HelpSearch,
  HelpOnHelp,
};

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Rect&) const = default;
};

struct ControlDef {
  int number = 0;
  int type = 0;
  int parent = 0;  // containing menu, sheet, tab or group (0: the window)
  std::string text;
  Rect pos;
  std::string icon;
  std::string tip;
  std::string picture;  // entries
  std::string format;   // lists
  bool hidden = false;
  bool disabled = false;
  bool readOnly = false;
  bool immediate = false;  // the control handles scrolling itself
  bool vscroll = false;
  bool isDefault = false;   // the default button
  bool skip = false;        // not in the tab order
  bool takesFiles = false;  // files dragged from the desktop may be dropped on it
  StandardAction action = StandardAction::None;
  std::vector<int> alerts;  // key codes alerted on the control

  ControlDef& At(int x, int y, int width, int height) {
    pos = {x, y, width, height};
    return *this;
  }
  ControlDef& Icon(std::string name) {
    icon = std::move(name);
    return *this;
  }
  ControlDef& Tip(std::string text_) {
    tip = std::move(text_);
    return *this;
  }
  ControlDef& Picture(std::string p) {
    picture = std::move(p);
    return *this;
  }
  ControlDef& Action(StandardAction a) {
    action = a;
    return *this;
  }
  ControlDef& Default() {
    isDefault = true;
    return *this;
  }
  ControlDef& Immediate() {
    immediate = true;
    return *this;
  }
  ControlDef& VScroll() {
    vscroll = true;
    return *this;
  }
  ControlDef& Hidden() {
    hidden = true;
    return *this;
  }
  ControlDef& TakesFiles() {
    takesFiles = true;
    return *this;
  }
};

enum class WindowKind {
  Window,  // an ordinary window (MDI child when there is a frame, dialog over its owner)
  Frame,   // the application frame (a multiple-document parent)
  Tool,    // a small floating window over its owner; the owner stays live beside it
};

class WindowDef {
 public:
  WindowDef(std::string module, std::string name, std::string caption);

  const std::string& Module() const { return module_; }
  const std::string& Name() const { return name_; }

  std::string caption;
  std::string icon;
  std::string font = "MS Sans Serif";
  int fontSize = 8;
  Rect pos{0, 0, 300, 200};
  WindowKind kind = WindowKind::Window;
  bool resizable = true;
  bool modal = false;

  // Adds a control (or, for menu types, a menu entry) and returns it for further settings.
  ControlDef& Add(int type, std::string text = {});
  ControlDef& Prompt(std::string text) { return Add(ctl::kPrompt, std::move(text)); }
  ControlDef& Entry(std::string picture) { return Add(ctl::kEntry).Picture(std::move(picture)); }
  ControlDef& Button(std::string text) { return Add(ctl::kButton, std::move(text)); }
  ControlDef& Check(std::string text) { return Add(ctl::kCheck, std::move(text)); }
  ControlDef& List(std::string format);
  ControlDef& Region() { return Add(ctl::kRegion); }
  // A sheet; tabs added after it belong to it, and controls after a tab belong to that tab
  // until EndSheet().
  ControlDef& Sheet();
  ControlDef& Tab(std::string text);
  void EndSheet();

  // Menus: MenuBar() opens the bar, Menu() a (sub)menu, EndMenu() closes the innermost one.
  ControlDef& MenuBar();
  ControlDef& Menu(std::string text);
  ControlDef& Item(std::string text);
  ControlDef& Separator();
  void EndMenu();

  const std::vector<ControlDef>& Controls() const { return controls_; }
  const ControlDef* Find(int number) const;
  int LastNumber() const { return controls_.empty() ? 0 : controls_.back().number; }

 private:
  std::string module_;
  std::string name_;
  std::vector<ControlDef> controls_;
  int nextControl_ = 1;
  int nextMenu_ = -1;
  std::vector<int> menuStack_;
  int sheet_ = 0;
  int tab_ = 0;
};

// The registry of definitions by (module, name), matched without regard to case.
void RegisterWindowDef(std::shared_ptr<const WindowDef> def);
std::shared_ptr<const WindowDef> FindWindowDef(std::string_view module, std::string_view name);

}  // namespace rt
