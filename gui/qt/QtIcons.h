// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Icons for the names windows use ("WAINSERT.ICO", "WAOK.ICO"...), matched without regard to
// case: the desktop theme's icon where there is one, else a small icon drawn here. The stock
// message icons are named by their number ("1" information ... "4" hand).

#include <QIcon>
#include <string>

namespace gui {

class QtIcons {
 public:
  // The program's own icon in the desktop's icon theme, installed with its menu entry (whose
  // name is the same); the frame shows it when it is installed.
  static constexpr const char* kProgramIcon = "org.pageletdemo.PageletDemo";

  // A null icon for an empty or unknown name.
  static QIcon ForName(const std::string& name);
};

}  // namespace gui
