// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The document table DemoData: one row per PDF document with its number, the name of the
// file it came from and the document's bytes. Each thread has its own file record (buffer
// and position) and its own file manager and relation manager over it.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/files/File.h"
#include "platform/runtime/files/FileKey.h"
#include "platform/runtime/values/RecordLayout.h"

namespace rt {
class View;
}
class DemoDataFileManager;
class DemoDataRelationManager;

inline constexpr std::uint32_t kDemoDataRecordSize = 84;
inline constexpr std::uint32_t kDemoDataFileNameSize = 80;
inline constexpr int kDemoDataIdField = 1;        // DEM:ID, signed 32-bit, "n-14"
inline constexpr int kDemoDataFileNameField = 2;  // DEM:FileName, string(80), "s80"
inline constexpr int kDemoDataBlob = 1;           // DEM:DataBlob
inline constexpr char kDemoDataLabel[] = "DEMODATA";
inline constexpr char kDemoDataKeyName[] = "DEM:ID_Key";
// The name shown as %File in the table's messages.
inline constexpr char kDemoDataDisplayName[] = "DemoData";

// The record layout: DEM:ID, DEM:FileName (84 bytes).
const rt::RecordLayout& DemoDataLayout();

// Chooses the table's driver (STORE, the default, or PGSTORE once registered) for the file
// records threads make from now on; called at start-up, before any thread makes one.
void ChooseDemoDataDriver(std::string driver);

// The calling thread's file record (made on the thread's first use).
rt::File& DemoData();
// The key DEM:ID_Key of the calling thread's file record.
const rt::FileKey& DemoDataIdKey();
// Destroys the calling thread's file record, when it made one, and its view before it.
void DestroyDemoData();

// The calling thread's view over its file record, through which the browse reads; made on the
// thread's first use. Destroying it closes it first.
rt::View& DemoDataView();
void DestroyDemoDataView();

// The calling thread's raw output file OUTFILE: RAW driver, one 32768-byte string BUFFER;
// its name is set before each open. Destroyed at thread end when the thread made it.
inline constexpr std::uint32_t kOutFileRecordSize = 32768;
rt::File& OutFile();
void DestroyOutFile();

// The calling thread's DEM:ID and DEM:FileName in its record buffer.
std::int32_t DemoDataId();
void SetDemoDataId(std::int32_t id);
std::string DemoDataFileName();
void SetDemoDataFileName(std::string_view name);
// Whether DEM:FileName keeps `name` exactly: the field cuts at its size and takes trailing
// blanks for padding, so a longer name or one ending in a blank would be kept as another.
bool DemoDataKeepsFileName(std::string_view name);

// The form's field-recall copy of the record: 84 bytes of the same layout, per thread,
// cleared on its first use on each thread.
std::uint8_t* DemoDataRecall();

// The calling thread's manager references (nullptr when none).
DemoDataFileManager*& DemoDataFileManagerRef();
DemoDataRelationManager*& DemoDataRelationManagerRef();

// Creates and initialises the calling thread's managers: the file manager, then the
// relation manager, then Init of both (the relation manager frames changes in
// transactions). A thread that already has them keeps them.
void CreateDemoDataManagers();
// Kills and frees the calling thread's managers.
void ReleaseDemoDataManagers();

// Start-up hooks of the thread's file records: thread end destroys the view and DemoData,
// INFILE and OUTFILE where the thread made them.
void RegisterDemoDataFileHooks();
// Start-up hooks of the thread's managers: thread start builds them on every thread but thread
// 1 (program main builds those of thread 1); thread end kills and frees them. Register these
// after the file hooks: thread end runs in reverse, so the managers close the table before its
// record goes.
void RegisterDemoDataManagerHooks();

// True when the name is the file of a table this process has open, or one of its side files
// (log, shared memory, journal), whatever the spelling. Such a file is never opened as a
// document: closing it would drop this process's locks on the table, which other programs on
// the same table rely on.
bool IsDemoDataFile(std::string_view name);
// IsDemoDataFile, said to the user in a message when true.
bool RefuseDemoDataFile(std::string_view name);
inline constexpr int kMsgTableFileNotDocument = 1605;
