// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A context menu built from a list of items, shown through the runtime's popup operation.
// Choosing an item posts its event to a control of the owning window's thread; items that
// mimic a button take the button's text, icon and enabled state each time the menu is shown,
// and choosing them presses the button. The same list can float as a toolbox: a
// small window on a thread of its own whose buttons post back to the owning thread.
//
// Every operation belongs to the owning thread (the one that called Init). The toolbox thread
// never reads the item list itself: the owning thread hands it copies (see PopupToolbox).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/util/PopupItemEntry.h"
#include "platform/runtime/values/FixedString.h"

namespace rt {
class Window;
}

class IniManager;
class PopupToolbox;
class TextTranslator;

class PopupManager {
 public:
  using ItemQueue = std::vector<PopupItemEntry>;

  std::uint8_t ClearKeyCode = 0;
  std::uint8_t NoIcons = 0;
  rt::CString<1024> LastSelection;
  std::int32_t LastNumberSelection = 0;
  std::unique_ptr<ItemQueue> PopupItems;
  TextTranslator* Translator = nullptr;
  IniManager* IniMgr = nullptr;
  std::uint8_t InToolbox = 0;
  std::int32_t MyThread = 0;
  rt::Window* ParentWindow = nullptr;
  // Written by the toolbox thread while its window is open; not for the owning thread.
  rt::Window* ThisWindow = nullptr;

  PopupManager();
  ~PopupManager();
  PopupManager(const PopupManager&) = delete;
  PopupManager& operator=(const PopupManager&) = delete;

  void Init();
  // Closes the toolbox (waiting for its thread) and disposes of the items.
  void Kill();

  // Each returns the unique name the item got.
  std::string AddItem(std::string_view text);
  std::string AddItem(std::string_view text, std::string_view name);
  // Inserted after the item named `afterName` (at the end when there is none); depth 0 is
  // the depth of the item it follows.
  std::string AddItem(std::string_view text, std::string_view name, std::string_view afterName,
                      std::int32_t depth);
  // Parses a menu text ("A{B|C}D") into items inserted after the named item.
  void AddMenu(std::string_view menuText, std::string_view afterName = {});
  void AddSubMenu(std::string_view text, std::string_view menuText,
                  std::string_view afterName = {});
  std::string AddItemEvent(std::string_view name, std::int32_t event, std::int32_t control);
  std::string AddItemMimic(std::string_view name, std::int32_t control, std::string_view text);
  void SetItemEnable(std::string_view name, bool enabled);
  void SetIcon(std::string_view name, std::string_view icon);
  void SetToolbox(std::string_view name, bool onToolbox);
  void DeleteItem(std::string_view name);
  void DeleteAll();
  std::int32_t GetItems(bool topLevel = false) const;
  std::string GetLastSelection() const;
  // Shows the menu at x, y (0: where the runtime chooses, at the mouse) and carries out the
  // choice. Returns the chosen item's name, or empty when nothing was chosen.
  std::string Ask(std::int32_t x = 0, std::int32_t y = 0);
  // Opens the toolbox on a thread of its own (once: a second call while open does nothing).
  void Toolbox(std::string_view caption);

  // The 1-based position of the item with that name, or 0.
  std::int32_t FindItem(std::string_view name) const;

  // The menu text for the current items, as Ask shows it; `entries` receives, for each
  // selectable entry in the order the popup operation numbers them, the item's position
  // (0-based). Mimicking items are refreshed from `target` (none: left as they are).
  std::string BuildMenuText(const rt::Window* target, std::vector<std::size_t>* entries) const;

 private:
  // An item as it is to be shown now: mirrored and translated; `hidden` when it mirrors a
  // hidden control (the toolbox gives such an item no button).
  struct Shown {
    PopupItemEntry item;
    bool hidden = false;
  };
  Shown Refresh(const PopupItemEntry& item, const rt::Window* target) const;
  std::string UniqueName(std::string_view seed) const;
  // Adds an item after the 0-based position `after` (npos: at the end); returns its position.
  std::size_t Insert(std::string_view text, std::string_view seed, std::size_t after,
                     std::int32_t depth);
  PopupItemEntry* Item(std::string_view name);
  // The items the toolbox shows, refreshed against its parent window.
  ItemQueue ToolboxItems() const;
  // Hands the toolbox a fresh copy of its items after a change on the owning thread.
  void Changed();
  void FinishToolbox();
  bool ConcernsToolbox(int control) const;

  std::shared_ptr<PopupToolbox> toolbox_;
  int parentId_ = 0;
  int watchToken_ = 0;
};
