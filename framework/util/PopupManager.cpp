// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/util/PopupManager.h"

#include <algorithm>
#include <cctype>

#include "framework/util/PopupToolbox.h"
#include "framework/util/TextTranslator.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/Text.h"
#include "platform/runtime/windows/ControlWatch.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// The popup operation takes at most this much menu text.
constexpr std::size_t kMaxMenuText = 9999;
constexpr std::size_t kMaxItemText = 1024;
// Shown as the icon size when the runtime reports none.
constexpr const char* kDefaultIconSize = "16";

// "|", "{" and "}" structure the menu text: inside an item's text they would split it and
// shift the numbering of every entry after it, so they are shown as look-alikes.
std::string MenuSafe(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '|') c = '/';
    if (c == '{') c = '(';
    if (c == '}') c = ')';
  }
  return out;
}

void ClearRuntimeKeyCode(rt::Window* window) {
  if (window) window->SetKeyCode(0);
}

}  // namespace

PopupManager::PopupManager() = default;

PopupManager::~PopupManager() {
  Kill();
}

void PopupManager::Init() {
  PopupItems = std::make_unique<ItemQueue>();
  ClearKeyCode = 1;
  MyThread = rt::ThreadNumber();
  LastNumberSelection = 0;
  NoIcons = 0;
}

void PopupManager::Kill() {
  if (toolbox_) toolbox_->Close();
  FinishToolbox();
  PopupItems.reset();
}

std::int32_t PopupManager::FindItem(std::string_view name) const {
  if (!PopupItems) return 0;
  for (std::size_t i = 0; i < PopupItems->size(); ++i)
    if ((*PopupItems)[i].Name.View() == name) return static_cast<std::int32_t>(i + 1);
  return 0;
}

PopupItemEntry* PopupManager::Item(std::string_view name) {
  const std::int32_t pos = FindItem(name);
  return pos == 0 ? nullptr : &(*PopupItems)[pos - 1];
}

std::string PopupManager::UniqueName(std::string_view seed) const {
  std::string base;
  for (char c : seed) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) && u < 0x80) base.push_back(c);
    if (c == '_') base.push_back(c);
  }
  // A seed without a single usable character still needs a name: an empty one would read
  // as "nothing chosen" when the item is picked.
  if (base.empty()) base = seed == "-" ? "Separator" : "Item";
  base.resize(std::min(base.size(), kMaxItemText - 6));
  std::string name = base;
  for (int n = 1; FindItem(name) != 0; ++n)
    name = base + std::to_string(n);
  return name;
}

std::size_t PopupManager::Insert(std::string_view text, std::string_view seed, std::size_t after,
                                 std::int32_t depth) {
  if (!PopupItems) Init();
  ItemQueue& items = *PopupItems;
  if (after == kNone || after >= items.size()) after = items.empty() ? kNone : items.size() - 1;
  if (depth <= 0) depth = after == kNone ? 1 : items[after].Depth;
  PopupItemEntry item;
  item.Depth = depth;
  item.Name = UniqueName(seed);
  if (text == "-") {
    item.Text = "-";
  } else {
    std::string_view rest = rt::TrimRight(text);
    std::size_t i = 0;
    for (; i < rest.size(); ++i) {
      if (rest[i] == '~')
        item.Disabled = 1;
      else if (rest[i] == '+')
        item.Check = 1;
      else if (rest[i] == '-')
        item.Check = 2;
      else
        break;
    }
    item.Text = rest.substr(i);
  }
  const std::size_t at = after == kNone ? 0 : after + 1;
  items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), std::move(item));
  return at;
}

std::string PopupManager::AddItem(std::string_view text) {
  return AddItem(text, text == "-" ? std::string_view("Separator") : text);
}

std::string PopupManager::AddItem(std::string_view text, std::string_view name) {
  const std::size_t at = Insert(text, name, kNone, 0);
  Changed();
  return std::string((*PopupItems)[at].Name.View());
}

std::string PopupManager::AddItem(std::string_view text, std::string_view name,
                                  std::string_view afterName, std::int32_t depth) {
  const std::int32_t after = FindItem(afterName);
  const std::size_t at = Insert(text, name, after == 0 ? kNone : after - 1, depth);
  Changed();
  return std::string((*PopupItems)[at].Name.View());
}

void PopupManager::AddMenu(std::string_view menuText, std::string_view afterName) {
  const std::int32_t found = FindItem(afterName);
  std::size_t after = found == 0 ? kNone : static_cast<std::size_t>(found - 1);
  // Appended at the end when the named item does not exist; starting at the top level then.
  if (found == 0 && PopupItems && !PopupItems->empty()) after = PopupItems->size() - 1;
  std::int32_t depth = found == 0 ? 1 : (*PopupItems)[after].Depth;
  std::string text;
  auto end = [&] {
    if (text.empty()) return;
    after = Insert(text, text, after, depth);
    text.clear();
  };
  for (char c : menuText) {
    if (c == '|') {
      end();
    } else if (c == '{') {
      end();
      ++depth;
    } else if (c == '}') {
      end();
      depth = std::max(1, depth - 1);
    } else if (text.size() < kMaxItemText) {
      text.push_back(c);
    }
  }
  end();
  Changed();
}

void PopupManager::AddSubMenu(std::string_view text, std::string_view menuText,
                              std::string_view afterName) {
  std::string menu(rt::TrimRight(text));
  menu += "{";
  menu += rt::TrimRight(menuText);
  menu += "}";
  AddMenu(menu, afterName);
}

std::string PopupManager::AddItemEvent(std::string_view name, std::int32_t event,
                                       std::int32_t control) {
  std::string used(name);
  if (FindItem(name) == 0) used = AddItem(name);
  PopupItemEntry* item = Item(used);
  item->Event = event;
  item->ControlID = control;
  item->MimicMode = 0;
  item->OnToolbox = 1;
  Changed();
  return used;
}

std::string PopupManager::AddItemMimic(std::string_view name, std::int32_t control,
                                       std::string_view text) {
  const std::string used = AddItemEvent(name, rt::event::kAccepted, control);
  PopupItemEntry* item = Item(used);
  item->Text = text;
  item->MimicMode = 1;
  item->OnToolbox = 1;
  Changed();
  return used;
}

void PopupManager::SetItemEnable(std::string_view name, bool enabled) {
  PopupItemEntry* item = Item(name);
  if (!item || item->IsSeparator()) return;
  item->Disabled = enabled ? 2 : 1;
  Changed();
}

void PopupManager::SetIcon(std::string_view name, std::string_view icon) {
  if (PopupItemEntry* item = Item(name)) {
    item->Icon = icon;
    Changed();
  }
}

void PopupManager::SetToolbox(std::string_view name, bool onToolbox) {
  if (PopupItemEntry* item = Item(name)) {
    item->OnToolbox = onToolbox ? 1 : 0;
    Changed();
  }
}

void PopupManager::DeleteItem(std::string_view name) {
  const std::int32_t pos = FindItem(name);
  if (pos == 0) return;
  PopupItems->erase(PopupItems->begin() + (pos - 1));
  Changed();
}

void PopupManager::DeleteAll() {
  if (!PopupItems) return;
  PopupItems->clear();
  Changed();
}

std::int32_t PopupManager::GetItems(bool topLevel) const {
  if (!PopupItems) return 0;
  if (!topLevel) return static_cast<std::int32_t>(PopupItems->size());
  // The entries of the top level itself: comparing each depth only with the entry before
  // would also count the second and later entries of every submenu.
  return static_cast<std::int32_t>(std::count_if(
      PopupItems->begin(), PopupItems->end(),
      [](const PopupItemEntry& item) { return !item.IsSeparator() && item.Depth <= 1; }));
}

std::string PopupManager::GetLastSelection() const {
  return std::string(LastSelection.View());
}

PopupManager::Shown PopupManager::Refresh(const PopupItemEntry& item,
                                          const rt::Window* target) const {
  Shown shown{item, false};
  PopupItemEntry& s = shown.item;
  if (s.MimicMode && target) {
    // A control that is not there has no text, is not disabled and has no icon.
    const std::string controlText = target->Prop(s.ControlID, rt::prop::kText);
    if (!controlText.empty() && (s.Text.Length() == 0 || s.Text.View().front() == '!'))
      s.Text = controlText;
    if (s.Disabled == 0)
      s.Disabled = target->Prop(s.ControlID, rt::prop::kDisabled).empty() ? 2 : 1;
    if (s.Icon.Length() == 0) s.Icon = target->Prop(s.ControlID, rt::prop::kIcon);
    shown.hidden = !target->Prop(s.ControlID, rt::prop::kHidden).empty();
  }
  if (s.MimicMode && s.Text.Length() > 0 && s.Text.View().front() == '!')
    s.Text = s.Text.View().substr(1);
  if (Translator && !s.IsSeparator()) s.Text = Translator->TranslateText(s.Text.View());
  return shown;
}

std::string PopupManager::BuildMenuText(const rt::Window* target,
                                        std::vector<std::size_t>* entries) const {
  if (entries) entries->clear();
  if (!PopupItems) return {};
  const ItemQueue& items = *PopupItems;
  // Refresh every item first: a mirrored button may bring the first icon.
  std::vector<Shown> shown;
  shown.reserve(items.size());
  bool anyIcon = false;
  for (const PopupItemEntry& item : items) {
    shown.push_back(Refresh(item, target));
    anyIcon = anyIcon || shown.back().item.Icon.Length() > 0;
  }
  const bool icons = anyIcon && !NoIcons;
  std::string iconSize = target ? target->Prop(0, rt::prop::kSystemIconSize) : std::string();
  if (iconSize.empty()) iconSize = kDefaultIconSize;

  // Every item is written, in order, until the text would pass the popup operation's limit.
  std::string text;
  std::vector<std::size_t> written;
  std::vector<bool> blank;  // written as its depth mark alone: the runtime makes no entry of it
  std::int32_t previousDepth = 1;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const PopupItemEntry& s = shown[i].item;
    std::string piece;
    piece += s.Depth == previousDepth ? '|' : (s.Depth > previousDepth ? '{' : '}');
    if (s.IsSeparator()) {
      piece += '-';
    } else {
      if (s.Disabled == 1) piece += '~';
      if (s.Check == 1) piece += '+';
      if (s.Check == 2) piece += '-';
      if (icons) {
        piece += '[';
        if (s.Icon.Length() > 0) {
          piece +=
              std::to_string(rt::prop::kIconAttribute) + "(~" + std::string(s.Icon.View()) + "),";
        }
        piece += std::to_string(rt::prop::kPopupIconSize) + "(" + iconSize + ")]";
      }
      piece += MenuSafe(s.Text.View());
    }
    if (text.size() + piece.size() > kMaxMenuText) break;
    text += piece;
    written.push_back(i);
    blank.push_back(piece.size() == 1);
    previousDepth = s.Depth;
  }
  // The popup operation numbers the entries that are neither separators nor submenu headers
  // (an entry followed by a deeper one), nor empty.
  if (entries) {
    for (std::size_t k = 0; k < written.size(); ++k) {
      const PopupItemEntry& s = shown[written[k]].item;
      const bool header = k + 1 < written.size() && shown[written[k + 1]].item.Depth > s.Depth;
      if (!s.IsSeparator() && !header && !blank[k]) entries->push_back(written[k]);
    }
  }
  return text;
}

std::string PopupManager::Ask(std::int32_t x, std::int32_t y) {
  if (!PopupItems || PopupItems->empty()) {
    LastSelection = "";
    return {};
  }
  rt::Window* target = rt::Window::Active();
  ClearRuntimeKeyCode(target);
  std::vector<std::size_t> entries;
  const std::string menu = BuildMenuText(target, &entries);
  // The runtime places the menu at the mouse for a coordinate of -1.
  const int chosen = rt::Popup(menu, x == 0 ? -1 : x, y == 0 ? -1 : y);
  LastNumberSelection = chosen;
  if (chosen <= 0 || static_cast<std::size_t>(chosen) > entries.size()) {
    LastSelection = "";
    return {};
  }
  const Shown shown = Refresh((*PopupItems)[entries[chosen - 1]], target);
  const PopupItemEntry& item = shown.item;
  // A greyed entry cannot be chosen: an answer naming one presses nothing.
  if (item.Disabled == 1) {
    LastSelection = "";
    return {};
  }
  LastSelection = item.Name.View();
  if (item.Event != 0 || item.MimicMode) {
    if (ClearKeyCode) ClearRuntimeKeyCode(target);
    rt::Post(item.MimicMode ? rt::event::kAccepted : item.Event, item.ControlID, MyThread);
  }
  return GetLastSelection();
}

PopupManager::ItemQueue PopupManager::ToolboxItems() const {
  ItemQueue out;
  if (!PopupItems) return out;
  const rt::Window* parent = rt::Window::FindOpen(parentId_);
  for (const PopupItemEntry& item : *PopupItems) {
    if (!item.OnToolbox || item.IsSeparator()) continue;
    Shown shown = Refresh(item, parent);
    if (shown.hidden || (shown.item.Text.Length() == 0 && shown.item.Icon.Length() == 0)) continue;
    out.push_back(shown.item);
  }
  return out;
}

bool PopupManager::ConcernsToolbox(int control) const {
  if (!PopupItems) return false;
  return std::any_of(PopupItems->begin(), PopupItems->end(), [&](const PopupItemEntry& item) {
    return item.MimicMode && item.ControlID == control;
  });
}

void PopupManager::Changed() {
  if (toolbox_) toolbox_->Publish(ToolboxItems());
}

void PopupManager::Toolbox(std::string_view caption) {
  if (InToolbox) return;
  if (!PopupItems) Init();
  InToolbox = 1;
  ParentWindow = rt::Window::Active();
  parentId_ = ParentWindow ? ParentWindow->Id() : 0;
  // Actions that have no button on the toolbox (such as the one that opens it) are not
  // offered on the window either while it is open.
  if (ParentWindow) {
    for (const PopupItemEntry& item : *PopupItems)
      if (!item.OnToolbox && !item.IsSeparator() && item.ControlID != 0)
        ParentWindow->Disable(item.ControlID);
  }
  toolbox_ = std::make_shared<PopupToolbox>(MyThread, parentId_, ClearKeyCode != 0);
  toolbox_->Publish(ToolboxItems());
  if (parentId_ != 0) {
    watchToken_ = rt::WatchControls(parentId_, [this](const rt::ControlView& control) {
      if (ConcernsToolbox(control.number)) Changed();
    });
  }
  if (!toolbox_->Start(
          std::string(caption), [this] { FinishToolbox(); }, &ThisWindow))
    FinishToolbox();
}

void PopupManager::FinishToolbox() {
  if (!InToolbox) return;
  if (watchToken_ != 0) rt::UnwatchControls(watchToken_);
  watchToken_ = 0;
  if (toolbox_) toolbox_->Detach();
  toolbox_.reset();
  if (rt::Window* parent = rt::Window::FindOpen(parentId_); parent && PopupItems) {
    for (const PopupItemEntry& item : *PopupItems)
      if (!item.OnToolbox && !item.IsSeparator() && item.ControlID != 0 && item.Disabled != 1)
        parent->Disable(item.ControlID, false);
  }
  InToolbox = 0;
}
