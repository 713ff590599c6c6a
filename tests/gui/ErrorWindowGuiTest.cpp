// SPDX-License-Identifier: GPL-3.0-or-later
// The error manager's message window on the real desktop.
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <algorithm>
#include <mutex>
#include <vector>

#include "framework/error/ErrorHooks.h"
#include "framework/window/ErrorWindow.h"
#include "gui/DesktopTest.h"
#include "platform/runtime/windows/Dialogs.h"

namespace gui_test {
namespace {

class ErrorWindowGuiTest : public DesktopTest {};

QPushButton* ShownButton(QWidget* window, const QString& text) {
  for (auto* button : window->findChildren<QPushButton*>())
    if (button->isVisible() && button->text() == text) return button;
  return nullptr;
}

TEST_F(ErrorWindowGuiTest, EachOfEightButtonsAndEscAnswer) {
  const QStringList texts{"O&k", "&Yes", "&No", "&Abort", "&Retry", "&Ignore", "&Cancel", "&Help"};
  std::mutex mutex;
  std::vector<int> answers;
  RegisterErrorWindowHooks();
  StartProgram([&] {
    StartGlobalErrors();
    for (int i = 0; i <= texts.size(); ++i) {
      const int answer = GlobalErrors().ShowHistoryWindow("Eight", 0, 255, rt::kButtonYes);
      std::lock_guard lock(mutex);
      answers.push_back(answer);
    }
  });
  auto answered = [&] {
    std::lock_guard lock(mutex);
    return answers.size();
  };
  QPointer<gui::QtWindow> previous;
  for (int i = 0; i <= texts.size(); ++i) {
    gui::QtWindow* window = nullptr;
    // Each answer closes the window; the next message has a window of its own, whose
    // buttons come one by one.
    ASSERT_TRUE(PumpUntil([&] {
      window = FindWindow("Eight");
      return window && window != previous && window->isVisible() &&
             std::all_of(texts.begin(), texts.end(),
                         [&](const QString& text) { return ShownButton(window, text); });
    }));
    previous = window;
    std::vector<QPushButton*> shown;
    for (const QString& text : texts)
      shown.push_back(ShownButton(window, text));
    ASSERT_EQ(std::count(shown.begin(), shown.end(), nullptr), 0);
    // Left to right from the lowest bit; Yes is the default.
    for (std::size_t b = 1; b < shown.size(); ++b)
      EXPECT_LT(shown[b - 1]->x(), shown[b]->x());
    EXPECT_TRUE(shown[1]->isDefault());
    bool iconShown = false;
    for (auto* label : window->findChildren<QLabel*>())
      iconShown = iconShown || !label->pixmap().isNull();
    EXPECT_TRUE(iconShown);
    if (i < texts.size()) {
      shown[static_cast<std::size_t>(i)]->click();
    } else {
      QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
      QApplication::sendEvent(shown[1], &esc);
    }
    ASSERT_TRUE(PumpUntil([&] { return answered() == static_cast<std::size_t>(i) + 1; })) << i;
  }
  EXPECT_TRUE(FinishProgram());
  EXPECT_EQ(answers, (std::vector<int>{1, 2, 4, 8, 16, 32, 64, 128, rt::kButtonCancel}));
}

}  // namespace
}  // namespace gui_test
