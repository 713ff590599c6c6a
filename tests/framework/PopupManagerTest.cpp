// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/util/PopupManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "framework/util/TextTranslator.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/PopupMenu.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"
#include "support/Robot.h"

namespace {

using testing_support::Robot;

class PopupManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::ClearHooks();
    backend_ = rt::InstallHeadlessBackend();
    popup_.Init();
  }
  // The name of the entry the popup operation numbers `n` in the menu built now.
  std::string Entry(int n) {
    std::vector<std::size_t> entries;
    popup_.BuildMenuText(nullptr, &entries);
    return std::string((*popup_.PopupItems)[entries.at(n - 1)].Name.View());
  }
  std::shared_ptr<rt::HeadlessBackend> backend_;
  PopupManager popup_;
};

TEST_F(PopupManagerTest, ItemsGiveTheirMenuTextAndUniqueNames) {
  EXPECT_EQ(popup_.AddItem("Insert"), "Insert");
  EXPECT_EQ(popup_.AddItem("-"), "Separator");
  EXPECT_EQ(popup_.AddItem("Change"), "Change");
  EXPECT_EQ(popup_.BuildMenuText(nullptr, nullptr), "|Insert|-|Change");
  EXPECT_EQ(Entry(2), "Change");

  // Flags lead the text; names come from the letters and digits of the seed.
  EXPECT_EQ(popup_.AddItem("~+Save  "), "Save");
  EXPECT_EQ(popup_.AddItem("Save"), "Save1");
  EXPECT_EQ(popup_.AddItem("-"), "Separator1");
  const PopupItemEntry& save = (*popup_.PopupItems)[popup_.FindItem("Save") - 1];
  EXPECT_EQ(save.Disabled, 1);
  EXPECT_EQ(save.Check, 1);
  EXPECT_EQ(save.Text.View(), "Save");
  // A seed with nothing usable still gives a name that cannot be mistaken for "no choice".
  EXPECT_EQ(popup_.AddItem("&&&", "!?"), "Item");

  // Inserted after a named item at that item's depth; unknown names are ignored.
  EXPECT_EQ(popup_.AddItem("-Early", "Early", "Insert", 0), "Early");
  EXPECT_EQ(popup_.FindItem("Early"), 2);
  popup_.SetItemEnable("Separator", false);
  popup_.DeleteItem("NoSuchItem");
  EXPECT_EQ(popup_.BuildMenuText(nullptr, nullptr).substr(0, 24), "|Insert|-Early|-|Change|");
  popup_.DeleteAll();
  EXPECT_EQ(popup_.GetItems(), 0);
}

TEST_F(PopupManagerTest, MenuTextsNestAndCountOnlySelectableEntries) {
  popup_.AddItem("Top");
  popup_.AddMenu("A{B|C}D", "NoSuchItem");
  ASSERT_EQ(popup_.GetItems(), 5);
  std::vector<int> depths;
  for (const auto& item : *popup_.PopupItems)
    depths.push_back(item.Depth);
  EXPECT_EQ(depths, (std::vector<int>{1, 1, 2, 2, 1}));
  EXPECT_EQ(popup_.BuildMenuText(nullptr, nullptr), "|Top|A{B|C}D");
  // A is a submenu header: the entries are Top, B, C, D.
  EXPECT_EQ(Entry(2), "B");
  EXPECT_EQ(Entry(4), "D");
  EXPECT_EQ(popup_.GetItems(true), 3);

  // A submenu inserted after B nests one level below it.
  popup_.AddSubMenu("Sort  ", "By Name|By Date ", "B");
  EXPECT_EQ(popup_.BuildMenuText(nullptr, nullptr), "|Top|A{B|Sort{By Name|By Date}C}D");
  EXPECT_EQ(Entry(3), "ByName");
}

class Upper : public TextTranslator {
 public:
  std::string TranslateText(std::string_view text) const override {
    std::string out(text);
    for (char& c : out)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
  }
};

TEST_F(PopupManagerTest, IconsTranslationAndTheRuntimeAgreeOnNumbering) {
  popup_.AddItem("Open");
  popup_.AddItem("-");
  popup_.AddItem("Query a|b", "Query");
  popup_.SetIcon("Open", "WAOPEN.ICO");
  EXPECT_EQ(popup_.BuildMenuText(nullptr, nullptr),
            "|[31848(~WAOPEN.ICO),31290(16)]Open|-|[31290(16)]Query a/b");
  popup_.NoIcons = 1;
  Upper upper;
  popup_.Translator = &upper;
  EXPECT_EQ(popup_.BuildMenuText(nullptr, nullptr), "|OPEN|-|QUERY A/B");
  // The stored item keeps its own text.
  EXPECT_EQ((*popup_.PopupItems)[2].Text.View(), "Query a|b");

  // However long the list, the text stays within the runtime's limit and the runtime's
  // count of entries matches the items the manager maps choices to.
  popup_.Translator = nullptr;
  for (int i = 0; i < 400; ++i)
    popup_.AddMenu(i % 7 == 0 ? "Group{Some entry " + std::to_string(i) + "|x}" : "Entry|-");
  std::vector<std::size_t> entries;
  const std::string text = popup_.BuildMenuText(nullptr, &entries);
  EXPECT_LE(text.size(), 9999u);
  EXPECT_EQ(rt::PopupMenu::Parse(text).Count(), static_cast<int>(entries.size()));
}

TEST_F(PopupManagerTest, AskReturnsTheChosenNameOrNothing) {
  EXPECT_EQ(popup_.Ask(), "");  // no items: no menu at all
  EXPECT_TRUE(backend_->Transcript().empty());
  popup_.AddItem("Insert");
  popup_.AddItem("-");
  popup_.AddItem("Change");
  backend_->PushAnswer(2);
  EXPECT_EQ(popup_.Ask(10, 20), "Change");
  EXPECT_EQ(popup_.LastNumberSelection, 2);
  EXPECT_EQ(popup_.GetLastSelection(), "Change");
  backend_->PushAnswer(0);
  EXPECT_EQ(popup_.Ask(), "");
  EXPECT_EQ(popup_.LastNumberSelection, 0);
  EXPECT_EQ(popup_.GetLastSelection(), "");
  // An answer beyond the menu chooses nothing.
  backend_->PushAnswer(7);
  EXPECT_EQ(popup_.Ask(), "");
}

// An owner window with Insert (1), Change (2), Delete (3), Toolbox (4), a button that opens
// the popup menu (5) and one that toggles Change's enabled state (6). Pressed buttons are
// logged with the thread that handled them.
constexpr int kInsert = 1;
constexpr int kChange = 2;
constexpr int kDelete = 3;
constexpr int kToolboxButton = 4;
constexpr int kMenu = 5;
constexpr int kToggle = 6;

class PopupOwnerTest : public PopupManagerTest {
 protected:
  void SetUp() override {
    PopupManagerTest::SetUp();
    auto def = std::make_shared<rt::WindowDef>("PopupTest", "OWNER", "Owner");
    def->Button("&Insert");
    def->Button("&Change");
    def->Button("&Delete").Hidden();
    def->Button("&Toolbox");
    def->Button("Menu");
    def->Button("Toggle");
    rt::RegisterWindowDef(def);
  }

  // Runs the owner window on a new thread until it closes.
  void StartOwner() {
    rt::Start([this](const std::vector<std::string>&) {
      ownerThread_ = rt::ThreadNumber();
      PopupManager popup;
      popup.Init();
      // A control that is not there: no text, so the runtime makes no entry of it.
      popup.AddItemMimic("Gone", 99, "");
      popup.AddItemMimic("Insert", kInsert, "!");
      popup.AddItemMimic("Change", kChange, "");
      popup.AddItemMimic("Delete", kDelete, "Delete it");
      popup.AddItem("-", "ToolSeparator");
      popup.SetToolbox(popup.AddItemMimic("Toolbox", kToolboxButton, "!&Toolbox"), false);
      auto w = rt::Window::Prepare("PopupTest", "OWNER");
      w->Open();
      w->EventLoop([&] {
        if (w->Event() != rt::event::kAccepted) return 0;
        switch (w->Field()) {
          case kMenu:
            popup.Ask();
            break;
          case kToolboxButton:
            popup.Toolbox("Browse Actions");
            break;
          case kToggle:
            w->Disable(kChange, w->Prop(kChange, 0x7A02).empty());
            break;
          default: {
            std::lock_guard lock(mutex_);
            pressed_.push_back(w->Field() * 100 + rt::ThreadNumber());
          }
        }
        return 0;
      });
      popup.Kill();
    });
  }

  std::vector<int> Pressed() {
    std::lock_guard lock(mutex_);
    return pressed_;
  }
  std::string LastMenu() {
    for (const auto& r : backend_->Transcript())
      if (r.kind == "popup") menu_ = r.text;
    return menu_;
  }

  std::mutex mutex_;
  std::vector<int> pressed_;
  std::atomic<int> ownerThread_{0};
  std::string menu_;
};

TEST_F(PopupOwnerTest, ChosenEntriesPressTheButtonsTheyMimic) {
  rt::RunProgram([&] {
    StartOwner();
    Robot robot(backend_);
    const int owner = robot.WaitForWindow("Owner");
    ASSERT_NE(owner, 0);
    ASSERT_TRUE(robot.WaitIdle());

    // Change is the second entry; the entry for hidden Delete keeps its own text.
    robot.Answer(2);
    ASSERT_TRUE(robot.Press(owner, kMenu));
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_EQ(LastMenu(), "||&Insert|&Change|Delete it|-|&Toolbox");
    EXPECT_EQ(Pressed(), (std::vector<int>{kChange * 100 + ownerThread_}));

    // A disabled button gives a greyed entry, and an answer naming it presses nothing.
    ASSERT_TRUE(robot.Press(owner, kToggle));
    robot.Answer(2);
    ASSERT_TRUE(robot.Press(owner, kMenu));
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_EQ(LastMenu(), "||&Insert|~&Change|Delete it|-|&Toolbox");
    EXPECT_EQ(Pressed().size(), 1u);

    robot.Answer(1);
    ASSERT_TRUE(robot.Press(owner, kMenu));
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_EQ(Pressed().back(), kInsert * 100 + ownerThread_);
    ASSERT_TRUE(robot.CloseWindow(owner));
    EXPECT_TRUE(robot.WaitClosed(owner));
  });
}

TEST_F(PopupOwnerTest, ToolboxRunsOnItsOwnThreadAndPostsBackToTheOwner) {
  rt::RunProgram([&] {
    StartOwner();
    Robot robot(backend_);
    const int owner = robot.WaitForWindow("Owner");
    ASSERT_NE(owner, 0);
    ASSERT_TRUE(robot.Press(owner, kToolboxButton));
    const int box = robot.WaitForWindow("Browse Actions");
    ASSERT_NE(box, 0);
    ASSERT_TRUE(robot.WaitIdle());
    const auto view = robot.Window(box);
    EXPECT_NE(view->thread, ownerThread_);
    EXPECT_EQ(view->ownerId, owner);
    // Insert and Change have buttons; hidden Delete and the Toolbox entry do not, and the
    // owner's Toolbox button is off while the toolbox is open.
    ASSERT_EQ(view->controls.size(), 2u);
    EXPECT_EQ(view->controls[0].text, "&Insert");
    EXPECT_EQ(view->controls[1].text, "&Change");
    EXPECT_EQ(view->controls[1].pos.x, view->controls[0].pos.width);
    EXPECT_EQ(view->pos.width, view->controls[0].pos.width + view->controls[1].pos.width);
    EXPECT_FALSE(robot.Enabled(owner, kToolboxButton));

    // A toolbox press is handled by the owner's thread.
    ASSERT_TRUE(robot.Press(box, view->controls[1].number));
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_EQ(Pressed(), (std::vector<int>{kChange * 100 + ownerThread_}));

    // The toolbox follows the owner's buttons.
    ASSERT_TRUE(robot.Press(owner, kToggle));
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_FALSE(robot.Enabled(box, view->controls[1].number));
    EXPECT_FALSE(robot.Press(box, view->controls[1].number));

    // Closing the toolbox gives the owner its Toolbox button back; it opens again.
    ASSERT_TRUE(robot.CloseWindow(box));
    ASSERT_TRUE(robot.WaitClosed(box));
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_TRUE(robot.Enabled(owner, kToolboxButton));
    ASSERT_TRUE(robot.Press(owner, kToolboxButton));
    const int again = robot.WaitForWindow("Browse Actions");
    ASSERT_NE(again, 0);
    EXPECT_NE(again, box);

    // Closing the owner closes its toolbox.
    ASSERT_TRUE(robot.WaitIdle());
    ASSERT_TRUE(robot.CloseWindow(owner));
    EXPECT_TRUE(robot.WaitClosed(owner));
    EXPECT_TRUE(robot.WaitClosed(again));
    rt::JoinAllThreads();
  });
}

}  // namespace
