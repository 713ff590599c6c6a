// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/files/FileTransaction.h"

#include <algorithm>
#include <vector>

#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {

namespace {

struct ThreadTransaction {
  std::vector<File*> members;
  std::vector<File*> started;
  bool active = false;
};

ThreadTransaction& Current() {
  thread_local ThreadTransaction transaction;
  return transaction;
}

}  // namespace

void AddTransactionMember(File& file) {
  auto& members = Current().members;
  if (std::find(members.begin(), members.end(), &file) == members.end()) {
    members.push_back(&file);
  }
}

void RemoveTransactionMember(File& file) {
  auto& t = Current();
  std::erase(t.members, &file);
  std::erase(t.started, &file);
}

bool InTransaction() {
  return Current().active;
}

int StartTransaction(int timeoutSeconds) {
  auto& t = Current();
  if (t.active) {
    SetError(kDriverError, {}, "0", "a transaction is already running");
    return kDriverError;
  }
  t.started.clear();
  for (File* file : t.members) {
    if (!file->IsOpen()) continue;
    const int result = file->StartTransaction(timeoutSeconds);
    if (result != kNoError) {
      const ErrorState failure = LastError();
      // Undo what did start; the start failure is the one reported.
      for (File* done : t.started)
        static_cast<void>(done->Rollback());
      t.started.clear();
      SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
      return failure.code;
    }
    t.started.push_back(file);
  }
  t.active = true;
  ClearError();
  return kNoError;
}

namespace {

int Finish(bool commit) {
  auto& t = Current();
  if (!t.active) {
    SetError(kDriverError, {}, "0", "no transaction is running");
    return kDriverError;
  }
  ErrorState failure;
  for (File* file : t.started) {
    const int result = commit ? file->Commit() : file->Rollback();
    if (result != kNoError && failure.code == kNoError) failure = LastError();
  }
  t.started.clear();
  t.active = false;
  if (failure.code != kNoError) {
    SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
    return failure.code;
  }
  ClearError();
  return kNoError;
}

}  // namespace

int CommitTransaction() {
  return Finish(true);
}
int RollbackTransaction() {
  return Finish(false);
}

}  // namespace rt
