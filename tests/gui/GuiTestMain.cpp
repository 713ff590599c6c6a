// SPDX-License-Identifier: GPL-3.0-or-later
// The GUI tests' main: the QApplication lives on the main thread (the GUI thread); each test
// runs its runtime program on a thread of its own and pumps Qt events while it waits.

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
