// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Another instance of the program on the same table, for testing_support::OtherProcess: its
// commands run in a program of their own, as in a second process started by a user.

#include <functional>
#include <string>
#include <string_view>

#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/LoadBlobFromFile.h"
#include "framework/error/ErrorHooks.h"
#include "platform/runtime/threads/Threads.h"

namespace testing_support {

// "delete <id>", or "store <id> <name>": the name (and the bytes, when it names a file) into
// the row. Both read the row under watch first, as the forms do. "add <name>" adds a row with
// the next number, as the insert form does. "hold" starts a transaction that keeps every other
// station from writing until "release".
inline bool OtherInstanceCommand(std::string_view command) {
  if (command.starts_with("add ")) {
    const std::string name(command.substr(4));
    bool ok = DemoDataRelationManagerRef()->Open() == LevelQuiet &&
              DemoDataFileManagerRef()->PrepareRecord() == LevelQuiet;
    SetDemoDataFileName(name);
    ok = ok && LoadBlobFromFile(DemoData(), kDemoDataBlob, name) == 0 &&
         DemoDataRelationManagerRef()->Update() == LevelQuiet;
    static_cast<void>(DemoDataRelationManagerRef()->Close());  // never fails
    return ok;
  }
  if (command == "hold")
    return DemoDataRelationManagerRef()->Open() == LevelQuiet &&
           DemoData().StartTransaction(1) == 0;
  if (command == "release") {
    const bool ok = DemoData().Rollback() == 0;
    static_cast<void>(DemoDataRelationManagerRef()->Close());  // never fails
    return ok;
  }
  const std::string rest(command.substr(command.find(' ') + 1));
  bool ok = DemoDataRelationManagerRef()->Open() == LevelQuiet;
  SetDemoDataId(std::stoi(rest));
  ok = ok && DemoData().Watch() == 0 && DemoData().Get(DemoDataIdKey()) == 0;
  if (ok && command.starts_with("store ")) {
    const std::string name = rest.substr(rest.find(' ') + 1);
    SetDemoDataFileName(name);
    // The name alone makes the change; the named file need not exist.
    static_cast<void>(LoadBlobFromFile(DemoData(), kDemoDataBlob, name));
    ok = DemoDataRelationManagerRef()->Update() == LevelQuiet;
  } else if (ok) {
    ok = DemoDataRelationManagerRef()->Delete(false) == LevelQuiet;
  }
  static_cast<void>(DemoDataRelationManagerRef()->Close());  // never fails
  return ok;
}

inline void AsOtherProgram(const std::function<void()>& commands) {
  rt::RunProgram([&] {
    StartGlobalErrors();
    CreateDemoDataManagers();
    commands();
  });
}

}  // namespace testing_support
