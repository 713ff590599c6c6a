// The program's entry: the desktop's event loop on this thread, program main on runtime
// thread 1, the start-up hooks of every subsystem around it.
//
// For screenshots of the document viewer, PAGELET_SCREENSHOT_DOCUMENT names a PDF file: it
// is stored in a new record of the table and the viewer is opened on that record, on a
// thread of its own next to the frame.
//
// With --browse FILE..., each PDF file named is stored in a new record and the document
// browse is opened over them, as "&Browse Data" opens it.

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/BrowseData.h"
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

// Stores each file in a new record, then runs the browse on this thread.
void BrowseSample(const std::vector<std::string>& files) {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  DemoDataRelationManager* relations = DemoDataRelationManagerRef();
  if (relations == nullptr || relations->Open() != LevelQuiet) return;
  for (const std::string& file : files) {
    DemoDataFileManagerRef()->PrepareRecord();
    SetDemoDataFileName(file);
    if (LoadBlobFromFile(DemoData(), kDemoDataBlob, file) == 0) relations->Insert();
  }
  relations->Close();
  BrowseData();
}

}  // namespace

int main(int argc, char** argv) {
  RegisterApplicationHooks();
  gui::InstallPdfSurfaces();
  const char* shown = std::getenv("PAGELET_SCREENSHOT_DOCUMENT");
  const std::string document = shown ? shown : "";
  std::vector<std::string> sample;
  bool browse = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--browse")
      browse = true;
    else if (browse)
      sample.push_back(arg);
  }
  return gui::RunDesktop(argc, argv, [document, browse, sample] {
    if (!document.empty())
      rt::Start([document](const std::vector<std::string>&) { ViewStoredCopy(document); });
    if (browse)
      rt::Start([sample](const std::vector<std::string>&) { BrowseSample(sample); }, 25000);
    ProgramMain();
  });
}
