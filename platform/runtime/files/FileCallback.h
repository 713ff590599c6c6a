// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The file callback: an object registered with a file is called before and after every
// operation on it, with the operation's code and a parameter block.
//
// Operation codes and their groups (the file manager routes groups A-E to its hook pairs):
//   A  11 Open
//   B   1 Add, 4 Delete, 51 Put, 59 Append (raw/text record append)
//   C  30 StartTransaction, 54 Commit, 55 Rollback
//   D  15 Next, 16 Previous, 17 GetByKey, 24 Reget, 31 GetByPointer, 53 Reset,
//      66 Set (by key: start, values or end), 67 SetFile (record order)
//   E  10 Build (keys)
//   none of the groups:
//       2 Create, 5 Records, 6 Send, 7 Close, 8 Position, 9 Watch, 12 Duplicate,
//      13 SaveState, 14 RestoreState, 18 FreeState, 20 Size,
//      76 BLOB written (size set or bytes written), 78 property set (BLOB contents),
//     104 the file object is being destroyed (flag 0: destroyed by its owner,
//         1: destroyed while the runtime shuts down)

#include <string>

namespace rt {

enum FileOperation : int {
  kOpAdd = 1,
  kOpCreate = 2,
  kOpDelete = 4,
  kOpRecords = 5,
  kOpSend = 6,
  kOpClose = 7,
  kOpPosition = 8,
  kOpWatch = 9,
  kOpBuild = 10,
  kOpOpen = 11,
  kOpDuplicate = 12,
  kOpSaveState = 13,
  kOpRestoreState = 14,
  kOpNext = 15,
  kOpPrevious = 16,
  kOpGetByKey = 17,
  kOpFreeState = 18,
  kOpSize = 20,
  kOpReget = 24,
  kOpStartTransaction = 30,
  kOpGetByPointer = 31,
  kOpPut = 51,
  kOpReset = 53,
  kOpCommit = 54,
  kOpRollback = 55,
  kOpAppend = 59,
  kOpSet = 66,
  kOpSetFile = 67,
  kOpBlobWrite = 76,
  kOpPropertySet = 78,
  kOpDestroy = 104,
};

// Property numbers passed with kOpPropertySet.
inline constexpr int kPropBlobContents = 1;

struct FileCallbackParams {
  int operation = 0;
  // Set by a before-callback to skip the operation; the operation then returns stopCode.
  bool stop = false;
  int stopCode = 0;
  // Set for an operation the runtime performs inside another one (views mark their reads).
  bool marked = false;
  // kOpDestroy: 0 destroyed by its owner, 1 runtime shutdown.
  int flag = 0;
  // The key name or position text of reads and positioning (group D), when there is one.
  std::string text;
  // kOpPropertySet: the property number; kOpBlobWrite: the BLOB number.
  int property = 0;
  // After-callbacks: the operation's result code.
  int result = 0;
};

class FileCallback {
 public:
  virtual ~FileCallback() = default;
  // Called before an operation; returns 1 to carry on (the stop flag decides skipping).
  virtual int OnOperationStart(int code, FileCallbackParams& params) = 0;
  // Called after an operation with its result in params.result.
  virtual int OnOperationEnd(int code, FileCallbackParams& params) = 0;
};

}  // namespace rt
