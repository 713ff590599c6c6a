#include "app/Startup.h"

#include "app/DemoData.h"
#include "app/Globals.h"
#include "app/MainFrame.h"
#include "framework/data/FileOpenRegistry.h"
#include "framework/error/ErrorHooks.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/store/Store.h"

void RegisterApplicationHooks() {
  rt::RegisterStoreDriver();
  RegisterErrorHooks();
  rt::RegisterHooks({"application", RegisterMainFrameWindow, ClearThreadGlobals, nullptr, nullptr});
  RegisterFileRegistryHooks();
  RegisterDemoDataHooks();
}

void ProgramMain() {
  StartGlobalErrors();

  CreateDemoDataManagers();
  MainFrame();
}
