// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The per-thread file map: which file manager and which relation manager serve each table on
// this thread, and, per procedure, how each table is used, so that a procedure that borrows a
// table from its caller gives the caller its record and position back when it is done.
//
// A table is identified on a thread by its file label: the identity of the thread's file
// object. Each thread has its own map; only that thread touches it.

#include <cstdint>
#include <vector>

#include "framework/data/FileMapEntry.h"
#include "framework/data/FileUseStatus.h"
#include "framework/data/RelationMapEntry.h"

class ErrorManager;
class FileManager;
class RelationManager;

class ThreadFileMap {
 public:
  ErrorManager* Errs = nullptr;                   // asked for the current procedure's name
  std::vector<FileMapEntry> FileMapping;          // in FileLabel order
  std::vector<RelationMapEntry> RelationMapping;  // in FileLabel order
  std::vector<FileUseStatus> StatusQ;

  // The calling thread's map (made on first use).
  static ThreadFileMap& Current();
  // Thread start: a fresh map. Thread end: the map is disposed.
  static void StartThread();
  static void EndThread();
  // True when the calling thread has a map.
  static bool Exists();

  // The label that identifies a manager's table on this thread (0 when it has no file).
  static std::intptr_t LabelOf(const FileManager& manager);

  void RegisterFile(FileManager& manager);
  // `me` is the relation manager's file manager (its Me).
  void RegisterRelation(RelationManager& manager, const FileManager& me);
  void UnregisterFile(FileManager& manager);
  void UnregisterRelation(RelationManager& manager);
  FileManager* FindFileManager(std::intptr_t label) const;
  RelationManager* FindRelationManager(std::intptr_t label) const;

  // Records a use of the table by the current procedure at a level (1-3).
  void BeginUse(FileManager& manager, std::uint8_t level);
  // An open by the procedure that already uses the table.
  void NestOpen(FileManager& manager);
  // A close: ends the procedure's use of the table after its last nested close.
  void EndUse(FileManager& manager);

  // Index of the innermost procedure's entry for the table on this thread, -1 when none.
  int FindStatus(std::intptr_t label);

 private:
  std::string ProcedureName() const;
  int FindScope(std::intptr_t label, std::uint16_t scope) const;
};
