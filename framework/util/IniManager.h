// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Named settings kept outside the program, in an INI file or in the registry, with lists
// stored as numbered entries and a catalogue of "sectors": sections named by a family, an
// item and a type ("Browse$name$$Query"), so that a caller can list, say, every saved query
// of one browse. One manager serves every thread; each operation holds its critical
// section.
//
// Lists: the entry named after the list holds the number of records, the entries
// list + "_" + n the records' parts joined by ",". Inside a list record a part's ",", "%"
// and line breaks are written as "%2C", "%25", "%0D" and "%0A", so any part reads back as
// written. The catalogue lies in the section "__Dont_Touch_Me__", list "Sectors".
//
// Write operations return the runtime's error code (0 when stored); a store that cannot be
// written (read-only file, missing folder, a value with a line break) leaves what was
// stored untouched. A list, the catalogue and a removed sector are each stored in one
// rewrite of the file, all or nothing; the file itself is read once and kept in memory
// while it is unchanged on disk (see rt::IniFile).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/runtime/settings/IniFile.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/AnyRef.h"
#include "platform/runtime/values/Queue.h"

// Storage kinds (NVType).
inline constexpr std::int32_t kIniStorage = 0;
inline constexpr std::int32_t kRegistryStorage = 1;
inline constexpr std::int32_t kNoStorage = 2;

inline constexpr char kSectorSection[] = "__Dont_Touch_Me__";
inline constexpr char kSectorList[] = "Sectors";
// The default of FetchField for a missing entry.
inline constexpr char kUnknownValue[] = "---Unknown---";
// Buffer sizes: the file name, a fetched value, a joined list record, a catalogue field
// (each holds one character less than its size).
inline constexpr std::size_t kIniFileNameSize = 260;
inline constexpr std::size_t kIniValueSize = 1024;
inline constexpr std::size_t kIniRecordSize = 5000;
inline constexpr std::size_t kSectorFieldSize = 100;
// The longest value FetchField splits.
inline constexpr std::size_t kIniFieldLength = 999;

class IniManager {
 public:
  std::string FileName;  // the INI file, or the registry key all sections lie under
  // The catalogue: fields Family, Item (escaped), Type; sorted, without duplicates.
  std::unique_ptr<rt::Queue> Sectors;
  std::int32_t NVType = kIniStorage;
  std::int32_t ExtraData = 0;  // registry root key; 0 means 0x80000000
  std::unique_ptr<rt::CriticalSection> CritSect;

  IniManager();
  IniManager(const IniManager&) = delete;
  IniManager& operator=(const IniManager&) = delete;
  virtual ~IniManager();

  // Destroys the critical section; nothing may be called afterwards. A second call does
  // nothing.
  virtual void Kill();
  // The stored value of the entry, or `defaultValue` when there is none, cut to `limit`
  // characters (list records are read with the longer record limit).
  virtual std::string Fetch(std::string_view section, std::string_view entry,
                            std::string_view defaultValue, std::string_view fileName,
                            std::size_t limit = kIniValueSize - 1);
  // Stores the value. In the registry an empty value removes the entry.
  virtual int Update(std::string_view section, std::string_view entry, std::string_view value,
                     std::string_view fileName);
  // Called by Init once the catalogue queue exists, before it is read.
  virtual void AfterInit();
  // Removes the entry.
  virtual int TryDelete(std::string_view section, std::string_view entry);
  // Called at shutdown just before Close.
  virtual void BeforeKill();

  // Chooses the storage and reads the catalogue. Returns kNoError, or the error code of an
  // INI file that cannot be read (a named pipe, a device or a folder in its place, no read
  // permission; the thread's error state tells which): the manager then starts empty, with
  // every value at its default, and never writes over what is there.
  int Init(std::string_view fileName, std::int32_t storage = kIniStorage, std::int32_t rootKey = 0);
  // Writes the catalogue back, when it differs from what was last stored, and disposes of it.
  int Close();

  std::string FetchValue(std::string_view section, std::string_view entry);
  int UpdateValue(std::string_view section, std::string_view entry, std::string_view value);
  // Part `field` (from 1) of the comma-separated value; kUnknownValue when the entry is
  // missing.
  std::string FetchField(std::string_view section, std::string_view entry, int field);
  // Reads a list into the queue: for each record the given fields (references into the
  // queue's buffer) take parts 1, 2, 4 and 3, in this argument order; null ones are
  // skipped.
  void FetchQueue(std::string_view section, std::string_view listName, rt::Queue& queue,
                  const rt::AnyRef& part1, const rt::AnyRef& part2 = {},
                  const rt::AnyRef& part4 = {}, const rt::AnyRef& part3 = {});
  // Writes the queue as a list. Numbered entries beyond the new count stay in place.
  int UpdateQueue(std::string_view section, std::string_view listName, rt::Queue& queue,
                  const rt::AnyRef& part1, const rt::AnyRef& part2 = {},
                  const rt::AnyRef& part4 = {}, const rt::AnyRef& part3 = {});

  // family + "$" + item (each "$" tripled) + "$$" + type.
  static std::string MakeSectorName(std::string_view family, std::string_view item,
                                    std::string_view type);
  // Records the sector in the catalogue (and stores the catalogue at once, so that a crash
  // never leaves a saved section unlisted). Returns the error code of that store.
  int AddSector(std::string_view sectorName);
  // Removes a sector: its catalogue records, then its section with every entry. Section
  // names match without regard to case in the store, so every catalogue record naming the
  // same section goes. The catalogue is stored first: a failure there leaves both the
  // catalogue and the section as they were. Removing a sector that is not there succeeds.
  // Returns the runtime's error code.
  int RemoveSector(std::string_view sectorName);
  // Fills `result` (fields 1 to 3: family, item, type) with the catalogue records that
  // match; an empty filter matches everything. Items come back unescaped.
  void ListSectors(std::string_view family, std::string_view item, std::string_view type,
                   rt::Queue& result);
  // The item (unescaped) of the catalogue record of exactly this family and type whose item
  // equals `item` without regard to case (the least such), or "" when there is none.
  std::string FindSectorItem(std::string_view family, std::string_view item, std::string_view type);

  // Runs `work` (which calls the operations above) with the INI file's writes collected,
  // then makes them in one rewrite of the file, all or none; returns the first error.
  int Batch(const std::function<int()>& work);

  // The layout of the catalogue's records.
  static const rt::RecordLayout& SectorLayout();

 private:
  // Splits a sector name into family, escaped item and type.
  static void SplitSectorName(std::string_view name, std::string& family, std::string& item,
                              std::string& type);
  // The registry key of a section.
  std::string RegistryKey(std::string_view section, std::string_view fileName) const;
  std::uint32_t RegistryRoot() const;
  // The most records a list in the section can hold: a count beyond it (a damaged or
  // hand-edited file) is not believed.
  int ListLimit(std::string_view section) const;
  // Stores the whole catalogue, record n as the numbered entry n.
  int StoreSectors();
  // Stores the catalogue record at the position as its numbered entry (slots_).
  int StoreSectorRecord(int position);
  int StoreList(std::string_view section, std::string_view listName, rt::Queue& queue,
                const rt::AnyRef& part1, const rt::AnyRef& part2, const rt::AnyRef& part4,
                const rt::AnyRef& part3, int from);
  // Removes the section with all its entries.
  int DeleteSection(std::string_view section);
  // Sorts the catalogue and drops records it holds twice; true when it dropped some.
  bool SortSectors();
  // Runs `work` with the INI file's writes collected, then makes them in one rewrite.
  template <typename Work>
  int Batched(Work&& work);
  bool Collecting(std::string_view fileName) const;

  // A catalogue record as its three fields read back (family, escaped item, type).
  using SectorKey = std::tuple<std::string, std::string, std::string>;
  // The record's sector name with ASCII letters in upper case: the name as the store
  // matches it.
  static std::string FoldedName(const SectorKey& key);
  // The first position in the sorted catalogue whose record is not below `key`.
  int SectorPosition(const SectorKey& key) const;
  // Indexes every catalogue record by its folded name.
  void IndexSectors();
  // The first index record whose hash is not below `hash`.
  std::vector<std::pair<std::size_t, SectorKey>>::iterator FoldedAt(std::size_t hash);

  bool killed_ = false;
  bool sectorsStored_ = false;  // the catalogue in memory is the one last read or stored
  // Per catalogue record (in queue order), the number of its entry in the file: records are
  // stored where they were added, so adding or removing one rewrites no other.
  std::vector<int> slots_;
  // The catalogue's records by folded sector name, so that a lookup or a removal by name
  // does not walk the catalogue.
  // Sorted by the hash of the folded name: one flat array, cheap to free at Close.
  std::vector<std::pair<std::size_t, SectorKey>> byFoldedName_;
  int batchDepth_ = 0;
  std::vector<rt::IniFile::Change> pending_;
};
