// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Startup.h"

#include <csignal>

#include "app/DemoData.h"
#include "app/Globals.h"
#include "app/MainFrame.h"
#include "app/TextIndexer.h"
#include "framework/browse/EditInPlaceWindows.h"
#include "framework/data/FileOpenRegistry.h"
#include "framework/error/ErrorEntry.h"
#include "framework/error/ErrorHooks.h"
#include "framework/error/ErrorManager.h"
#include "framework/util/IniManager.h"
#include "framework/window/ErrorWindow.h"
#include "platform/pgstore/PgStore.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/SignalWatcher.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/Text.h"
#include "platform/store/Store.h"

void RegisterApplicationHooks() {
  rt::RegisterStoreDriver();
  RegisterErrorHooks();
  RegisterIniManagerHooks();
  rt::RegisterHooks({"application", RegisterMainFrameWindow, ClearThreadGlobals, nullptr, nullptr});
  RegisterFileRegistryHooks();
  RegisterEditInPlaceHooks();
  RegisterErrorWindowHooks();
  // Thread end runs these last three in reverse: the table managers go first (closing the
  // table may still report), then the thread's error status, then its file records.
  RegisterDemoDataFileHooks();
  RegisterErrorStatusHooks();
  RegisterDemoDataManagerHooks();
}

namespace {

void ReportSettingsFile() {
  ErrorManager& errors = GlobalErrors();
  errors.AddErrorOnce(kMsgSettingsFileUnusable,
                      "The settings file cannot be read:|%Message|The program starts with default "
                      "settings and leaves the file as it is.",
                      "Settings File Unusable", LevelNotify);
  static_cast<void>(errors.ThrowMessage(kMsgSettingsFileUnusable, rt::ErrorText()));
}

// The table's driver, from the settings file's [Table] section: Driver=PGSTORE with
// Connection=<libpq connection string> puts the table on that server; no section keeps it in
// the local file. The connection string is never shown (it may hold a password).
void ChooseTableDriver() {
  const std::string driver =
      rt::Upper(rt::Trim(IniMgr().Fetch("Table", "Driver", "", kIniFileName), " "));
  if (driver.empty() || driver == rt::kStoreDriverName) return;
  if (driver == rt::kPgDriverName) {
    const std::string connection =
        IniMgr().Fetch("Table", "Connection", "", kIniFileName, kIniValueSize - 1);
    rt::RegisterPgDriver(connection);
    ChooseDemoDataDriver(rt::kPgDriverName);
    return;
  }
  ErrorManager& errors = GlobalErrors();
  errors.AddErrorOnce(kMsgUnknownTableDriver,
                      "The settings file names the table driver %Message, which this program does "
                      "not have.|The table stays in its local file.",
                      "Unknown Table Driver", LevelNotify);
  static_cast<void>(errors.ThrowMessage(kMsgUnknownTableDriver, driver));
}

}  // namespace

void ProgramMain() {
  RunProgramMain(MainFrame);
}

void RunProgramMain(const std::function<void()>& frame) {
  // The runtime needs no separate start of its code phase.
  StartGlobalErrors();
  if (IniMgr().Init(kIniFileName, kIniStorage, 0) != rt::kNoError) ReportSettingsFile();
  ChooseTableDriver();
  CreateDemoDataManagers();
  TextIndexer::Start();
  frame();
  TextIndexer::Stop();
  IniMgr().BeforeKill();
  IniMgr().Close();
}

int RunApplication(const ProgramHost& host) {
  rt::SignalWatcher signals({SIGTERM, SIGINT});
  RegisterApplicationHooks();
  return host([&signals] {
    signals.Start([](int) { CloseMainFrame(); });
    ProgramMain();
    signals.Stop();
  });
}
