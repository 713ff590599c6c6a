// The program's entry: the desktop's event loop on this thread, program main on runtime
// thread 1, the start-up hooks of every subsystem around it.
//
// For screenshots of the document viewer, PAGELET_SCREENSHOT_DOCUMENT names a PDF file: it
// is stored in a new record of the table and the viewer is opened on that record, on a
// thread of its own next to the frame.

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/LoadBlobFromFile.h"
#include "app/Startup.h"
#include "app/ViewBlob.h"
#include "gui/qt/QtBackend.h"
#include "gui/qt/QtPdfSurface.h"
#include "platform/runtime/threads/Threads.h"

namespace {

void ViewStoredCopy(const std::string& file) {
  // The frame comes up first, so that the viewer opens inside it.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  DemoDataRelationManager* relations = DemoDataRelationManagerRef();
  if (relations == nullptr || relations->Open() != LevelQuiet) return;
  DemoDataFileManagerRef()->PrepareRecord();
  SetDemoDataFileName(file);
  if (LoadBlobFromFile(DemoData(), kDemoDataBlob, file) == 0 && relations->Insert() == LevelQuiet)
    ViewBlob(DemoData(), kDemoDataBlob);
  relations->Close();
}

}  // namespace

int main(int argc, char** argv) {
  RegisterApplicationHooks();
  gui::InstallPdfSurfaces();
  const char* shown = std::getenv("PAGELET_SCREENSHOT_DOCUMENT");
  const std::string document = shown ? shown : "";
  return gui::RunDesktop(argc, argv, [document] {
    if (!document.empty())
      rt::Start([document](const std::vector<std::string>&) { ViewStoredCopy(document); });
    ProgramMain();
  });
}
