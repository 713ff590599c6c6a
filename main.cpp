// The program's entry: the desktop's event loop on this thread, program main on runtime
// thread 1, the start-up hooks of every subsystem around it.

#include "app/Startup.h"
#include "gui/qt/QtBackend.h"
#include "gui/qt/QtPdfSurface.h"

int main(int argc, char** argv) {
  RegisterApplicationHooks();
  gui::InstallPdfSurfaces();
  return gui::RunDesktop(argc, argv, ProgramMain);
}
