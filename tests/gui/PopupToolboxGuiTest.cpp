// SPDX-License-Identifier: GPL-3.0-or-later
// The popup toolbox on the desktop: a tool window beside its owner, which stays live.

#include <QPushButton>
#include <atomic>

#include "DesktopTest.h"
#include "framework/util/PopupManager.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace gui_test {
namespace {

class PopupToolboxGuiTest : public DesktopTest {};

TEST_F(PopupToolboxGuiTest, ToolboxFloatsBesideItsOwnerAndPressesItsButtons) {
  auto def = std::make_shared<rt::WindowDef>("GuiTest", "TOOLOWNER", "Toolbox Owner");
  def->pos = {10, 10, 200, 80};
  def->Button("&Insert").At(10, 10, 50, 14).Icon("WAINSERT.ICO");  // 1
  def->Button("&Toolbox").At(70, 10, 50, 14);                      // 2
  rt::RegisterWindowDef(def);
  std::atomic<int> ownerId{0};
  std::atomic<int> inserts{0};
  StartProgram([&] {
    PopupManager popup;
    popup.Init();
    popup.AddItemMimic("Insert", 1, "!");
    popup.SetToolbox(popup.AddItemMimic("Toolbox", 2, "!"), false);
    auto w = rt::Window::Prepare("GuiTest", "TOOLOWNER");
    w->Open();
    ownerId = w->Id();
    w->EventLoop([&] {
      if (w->Event() == rt::event::kAccepted && w->Field() == 1) ++inserts;
      if (w->Event() == rt::event::kAccepted && w->Field() == 2) popup.Toolbox("Browse Actions");
      return 0;
    });
    popup.Kill();
  });
  gui::QtWindow* owner = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (owner = FindWindow("Toolbox Owner")) != nullptr; }));
  ASSERT_TRUE(PumpUntil([&] { return ownerId.load() != 0; }));
  auto* open = qobject_cast<QPushButton*>(backend_->ControlWidget(ownerId, 2));
  ASSERT_NE(open, nullptr);
  open->click();

  gui::QtWindow* box = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (box = FindWindow("Browse Actions")) != nullptr; }));
  EXPECT_EQ(box->windowType(), Qt::Tool);
  ASSERT_TRUE(PumpUntil([&] { return !open->isEnabled(); }));
  QPushButton* button = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    const auto buttons = box->findChildren<QPushButton*>();
    button = buttons.size() == 1 ? buttons.front() : nullptr;
    return button && button->isVisible();
  }));
  // The mirrored button's icon, with its text as the tip.
  EXPECT_FALSE(button->icon().isNull());
  EXPECT_EQ(button->toolTip(), "Insert");

  // The owner goes on taking input, and the toolbox's press reaches it.
  auto* insert = qobject_cast<QPushButton*>(backend_->ControlWidget(ownerId, 1));
  ASSERT_NE(insert, nullptr);
  insert->click();
  ASSERT_TRUE(PumpUntil([&] { return inserts.load() == 1; }));
  button->click();
  ASSERT_TRUE(PumpUntil([&] { return inserts.load() == 2; }));

  // Closing the owner closes the toolbox with it.
  owner->close();
  EXPECT_TRUE(PumpUntil([&] { return FindWindow("Browse Actions") == nullptr; }));
  EXPECT_TRUE(FinishProgram());
}

}  // namespace
}  // namespace gui_test
