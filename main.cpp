// SPDX-License-Identifier: GPL-3.0-or-later
// The program's entry: the desktop's event loop on this thread, program main on runtime
// thread 1, the start-up hooks of every subsystem around it. It takes no command-line
// options and reads no environment variables of its own; SIGTERM and SIGINT close it as
// File > Exit does.

#include "app/Startup.h"
#include "gui/qt/QtBackend.h"
#include "gui/qt/QtPdfSurface.h"

int main(int, char** argv) {
  return RunApplication([argv](const std::function<void()>& programMain) {
    gui::InstallPdfSurfaces();
    return gui::RunDesktop(argv[0], programMain);
  });
}
