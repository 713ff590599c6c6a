// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/util/IniManager.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "framework/error/CriticalSectionGuard.h"
#include "framework/error/TextCut.h"
#include "platform/runtime/settings/IniFile.h"
#include "platform/runtime/settings/RegistryStore.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

namespace {

// A registry key cannot be asked how many values it holds: a list there is read up to this.
constexpr int kRegistryListLimit = 10000;

std::string Escape(std::string_view item) {
  std::string escaped;
  for (char c : item) {
    if (c == '$')
      escaped += "$$$";
    else
      escaped += c;
  }
  return escaped;
}

std::string Unescape(std::string_view item) {
  std::string plain;
  for (std::size_t i = 0; i < item.size(); ++i) {
    plain += item[i];
    if (item.compare(i, 3, "$$$") == 0) i += 2;
  }
  return plain;
}

// One part of a list record as stored: the characters that would split the record or the
// line are written as %-codes.
std::string EncodePart(std::string_view part) {
  std::string out;
  for (char c : part) {
    switch (c) {
      case ',':
        out += "%2C";
        break;
      case '%':
        out += "%25";
        break;
      case '\r':
        out += "%0D";
        break;
      case '\n':
        out += "%0A";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string DecodePart(std::string_view part) {
  std::string out;
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (part[i] == '%' && i + 2 < part.size()) {
      const std::string_view code = part.substr(i + 1, 2);
      char c = 0;
      if (code == "2C" || code == "2c")
        c = ',';
      else if (code == "25")
        c = '%';
      else if (code == "0D" || code == "0d")
        c = '\r';
      else if (code == "0A" || code == "0a")
        c = '\n';
      if (c != 0) {
        out += c;
        i += 2;
        continue;
      }
    }
    out += part[i];
  }
  return out;
}

// Part `field` (from 1) of a comma-separated value. Each further comma is searched after
// the previous one; a search that finds none starts again at the beginning, so a value
// without commas gives itself for every part.
std::string_view Part(std::string_view value, int field) {
  std::size_t start = 0;
  for (int i = 1; i < field; ++i) {
    const std::size_t comma = value.find(',', start);
    start = comma == std::string_view::npos ? 0 : comma + 1;
  }
  const std::size_t end = value.find(',', start);
  return value.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

// A stored count: digits, blanks around them allowed; anything else is 0.
int ParseCount(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  int count = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  if (error != std::errc() || end != text.data() + text.size() || count < 0) return 0;
  return count;
}

std::string FieldText(const rt::AnyRef& field) {
  return std::string(rt::TrimRight(field.Text()));
}

}  // namespace

IniManager::IniManager() : CritSect(std::make_unique<rt::CriticalSection>()) {}

IniManager::~IniManager() {
  Kill();
}

const rt::RecordLayout& IniManager::SectorLayout() {
  static const rt::RecordLayout layout = [] {
    rt::RecordLayout made("Sectors");
    made.AddField("Family", rt::FieldType::CString, kSectorFieldSize);
    made.AddField("Item", rt::FieldType::CString, kSectorFieldSize);
    made.AddField("Type", rt::FieldType::CString, kSectorFieldSize);
    return made;
  }();
  return layout;
}

void IniManager::Kill() {
  if (killed_) return;
  killed_ = true;
  {
    CriticalSectionGuard guard(CritSect.get());
    Sectors.reset();
    byFoldedName_.clear();
  }
  CritSect.reset();
}

std::string IniManager::Fetch(std::string_view section, std::string_view entry,
                              std::string_view defaultValue, std::string_view fileName,
                              std::size_t limit) {
  CriticalSectionGuard guard(CritSect.get());
  std::string value;
  switch (NVType) {
    case kIniStorage:
      value = rt::IniFile::Read(section, entry, defaultValue, fileName);
      break;
    case kRegistryStorage:
      value = rt::RegistryStore().Get(RegistryRoot(), RegistryKey(section, fileName), entry);
      if (value.empty()) value = std::string(defaultValue);
      break;
    default:
      return {};
  }
  value.resize(CutText(value, limit).size());
  return value;
}

int IniManager::Update(std::string_view section, std::string_view entry, std::string_view value,
                       std::string_view fileName) {
  CriticalSectionGuard guard(CritSect.get());
  switch (NVType) {
    case kIniStorage:
      if (Collecting(fileName)) {
        pending_.push_back({rt::IniFile::Change::Kind::Put, std::string(section),
                            std::string(entry), std::string(value)});
        return rt::kNoError;
      }
      return rt::IniFile::Write(section, entry, value, fileName);
    case kRegistryStorage:
      if (value.empty()) return TryDelete(section, entry);
      return rt::RegistryStore().Put(RegistryRoot(), RegistryKey(section, fileName), entry, value);
    default:
      return rt::kNoError;
  }
}

void IniManager::AfterInit() {}

int IniManager::TryDelete(std::string_view section, std::string_view entry) {
  CriticalSectionGuard guard(CritSect.get());
  switch (NVType) {
    case kIniStorage:
      if (Collecting(FileName)) {
        pending_.push_back(
            {rt::IniFile::Change::Kind::DeleteEntry, std::string(section), std::string(entry), {}});
        return rt::kNoError;
      }
      return rt::IniFile::Write(section, entry, std::nullopt, FileName);
    case kRegistryStorage:
      return rt::RegistryStore().Delete(RegistryRoot(), RegistryKey(section, FileName), entry);
    default:
      return rt::kNoError;
  }
}

void IniManager::BeforeKill() {}

int IniManager::Init(std::string_view fileName, std::int32_t storage, std::int32_t rootKey) {
  CriticalSectionGuard guard(CritSect.get());
  FileName.assign(CutText(fileName, kIniFileNameSize - 1));
  NVType = storage;
  ExtraData = rootKey;
  // Opened as every user-named file: a named pipe or a device in its place is refused at
  // once instead of blocking start-up, and reads as an empty file.
  const int usable = NVType == kIniStorage ? rt::IniFile(FileName).Verify() : rt::kNoError;
  const std::string why = usable != rt::kNoError ? rt::ErrorText() : std::string();
  Sectors = std::make_unique<rt::Queue>(SectorLayout());
  AfterInit();
  FetchQueue(kSectorSection, kSectorList, *Sectors, Sectors->Field(1), Sectors->Field(2), {},
             Sectors->Field(3));
  // A catalogue that holds a record twice or claims more records than it has (edited by
  // hand, say) is stored again, whole, at Close.
  const bool dropped = SortSectors();
  IndexSectors();
  sectorsStored_ = !dropped && ParseCount(Fetch(kSectorSection, kSectorList, {}, FileName)) ==
                                   Sectors->Records();
  if (usable != rt::kNoError) rt::SetError(usable, why);
  return usable;
}

int IniManager::Close() {
  CriticalSectionGuard guard(CritSect.get());
  if (!Sectors) return rt::kNoError;
  const int result = sectorsStored_ ? rt::kNoError : StoreSectors();
  Sectors.reset();
  byFoldedName_.clear();
  return result;
}

std::string IniManager::FetchValue(std::string_view section, std::string_view entry) {
  CriticalSectionGuard guard(CritSect.get());
  return Fetch(section, entry, {}, FileName);
}

int IniManager::UpdateValue(std::string_view section, std::string_view entry,
                            std::string_view value) {
  CriticalSectionGuard guard(CritSect.get());
  return Update(section, entry, value, FileName);
}

std::string IniManager::FetchField(std::string_view section, std::string_view entry, int field) {
  CriticalSectionGuard guard(CritSect.get());
  const std::string value = Fetch(section, entry, kUnknownValue, FileName, kIniFieldLength);
  return std::string(Part(value, field));
}

void IniManager::FetchQueue(std::string_view section, std::string_view listName, rt::Queue& queue,
                            const rt::AnyRef& part1, const rt::AnyRef& part2,
                            const rt::AnyRef& part4, const rt::AnyRef& part3) {
  CriticalSectionGuard guard(CritSect.get());
  const std::string list(listName);
  // A list in an INI file is read from one reading of the file, so that it is never part
  // of one version and part of another written in between (by another process, say).
  const bool iniFile = NVType == kIniStorage;
  std::vector<std::pair<std::string, std::string>> values;
  if (iniFile) values = rt::IniFile(FileName).Values(section);
  // A list as written lies in order (count, then record 1, 2, ...): each entry is looked for
  // where the previous one was found, then through an index of the section.
  std::size_t next = 0;
  std::unordered_map<std::string, std::size_t> index;
  const auto find = [&](const std::string& entry) -> const std::string* {
    if (next < values.size() && rt::SameName(values[next].first, entry))
      return &values[next++].second;
    if (index.empty()) {
      for (std::size_t i = 0; i < values.size(); ++i)
        index.try_emplace(rt::Upper(values[i].first), i);
    }
    const auto found = index.find(rt::Upper(entry));
    if (found == index.end()) return nullptr;
    next = found->second + 1;
    return &values[found->second].second;
  };
  const auto read = [&](const std::string& entry, std::string_view defaultValue,
                        std::size_t limit) {
    if (!iniFile) return Fetch(section, entry, defaultValue, FileName, limit);
    const std::string* found = find(entry);
    std::string value(found ? std::string_view(*found) : defaultValue);
    value.resize(CutText(value, limit).size());
    return value;
  };
  int count = ParseCount(read(list, {}, kIniValueSize - 1));
  const int limit = iniFile ? static_cast<int>(values.size()) : ListLimit(section);
  if (count > limit) count = limit;
  const std::pair<const rt::AnyRef*, int> parts[] = {
      {&part1, 1}, {&part2, 2}, {&part3, 3}, {&part4, 4}};
  for (int n = 1; n <= count; ++n) {
    // Whole records: a record may be longer than a single value.
    const std::string value =
        read(list + "_" + std::to_string(n), kUnknownValue, kIniRecordSize - 1);
    for (const auto& [field, number] : parts) {
      if (!field->IsNull()) field->SetText(DecodePart(Part(value, number)));
    }
    queue.Add();
  }
}

int IniManager::UpdateQueue(std::string_view section, std::string_view listName, rt::Queue& queue,
                            const rt::AnyRef& part1, const rt::AnyRef& part2,
                            const rt::AnyRef& part4, const rt::AnyRef& part3) {
  CriticalSectionGuard guard(CritSect.get());
  return Batched(
      [&] { return StoreList(section, listName, queue, part1, part2, part4, part3, 1); });
}

int IniManager::StoreList(std::string_view section, std::string_view listName, rt::Queue& queue,
                          const rt::AnyRef& part1, const rt::AnyRef& part2, const rt::AnyRef& part4,
                          const rt::AnyRef& part3, int from) {
  const std::string list(listName);
  const int records = queue.Records();
  int result = UpdateValue(section, list, std::to_string(records));
  for (int n = std::max(from, 1); n <= records; ++n) {
    queue.Get(n);
    std::string value = EncodePart(FieldText(part1));
    for (const rt::AnyRef* field : {&part2, &part3, &part4}) {
      if (!field->IsNull()) value += "," + EncodePart(FieldText(*field));
    }
    value.resize(CutText(value, kIniRecordSize - 1).size());
    const int stored = UpdateValue(section, list + "_" + std::to_string(n), value);
    if (result == rt::kNoError) result = stored;
  }
  return result;
}

bool IniManager::Collecting(std::string_view fileName) const {
  return batchDepth_ > 0 && NVType == kIniStorage && fileName == FileName;
}

template <typename Work>
int IniManager::Batched(Work&& work) {
  ++batchDepth_;
  int result = work();
  if (--batchDepth_ > 0) return result;
  std::vector<rt::IniFile::Change> changes;
  changes.swap(pending_);
  if (result != rt::kNoError || changes.empty()) return result;
  result = rt::IniFile(FileName).Apply(changes);
  // A catalogue stored inside the batch was not stored after all.
  if (result != rt::kNoError) sectorsStored_ = false;
  return result;
}

int IniManager::Batch(const std::function<int()>& work) {
  CriticalSectionGuard guard(CritSect.get());
  return Batched(work);
}

std::string IniManager::MakeSectorName(std::string_view family, std::string_view item,
                                       std::string_view type) {
  return std::string(family) + "$" + Escape(item) + "$$" + std::string(type);
}

void IniManager::SplitSectorName(std::string_view name, std::string& family, std::string& item,
                                 std::string& type) {
  const std::size_t dollar = name.find('$');
  family = std::string(name.substr(0, dollar));
  item.clear();
  type.clear();
  if (dollar == std::string_view::npos) return;
  const std::size_t start = dollar + 1;
  std::size_t at = start;
  while (true) {
    const std::size_t pair = name.find("$$", at);
    if (pair == std::string_view::npos) {
      item = std::string(name.substr(start));
      return;
    }
    if (pair + 2 < name.size() && name[pair + 2] == '$') {
      at = pair + 3;  // an escaped "$" of the item
      continue;
    }
    item = std::string(name.substr(start, pair - start));
    type = std::string(name.substr(pair + 2));
    return;
  }
}

int IniManager::AddSector(std::string_view sectorName) {
  CriticalSectionGuard guard(CritSect.get());
  if (!Sectors) return rt::kNoError;
  std::string family;
  std::string item;
  std::string type;
  SplitSectorName(sectorName, family, item, type);
  // Compare as stored: cut to the catalogue's field size.
  rt::Queue& sectors = *Sectors;
  sectors.Field(1).SetText(family);
  sectors.Field(2).SetText(item);
  sectors.Field(3).SetText(type);
  SectorKey key(FieldText(sectors.Field(1)), FieldText(sectors.Field(2)),
                FieldText(sectors.Field(3)));
  const int low = SectorPosition(key);
  if (low <= sectors.Records() && std::make_tuple(sectors.RowText(low, 1), sectors.RowText(low, 2),
                                                  sectors.RowText(low, 3)) == key)
    return rt::kNoError;
  sectors.Add(low);
  const std::size_t hash = std::hash<std::string>()(FoldedName(key));
  byFoldedName_.emplace(FoldedAt(hash), hash, std::move(key));
  if (!sectorsStored_) return StoreSectors();
  // The new record goes into a new numbered entry after the others: nothing else moves.
  const int count = sectors.Records();
  slots_.insert(slots_.begin() + (low - 1), count);
  const int result = Batched([&] {
    const int stored = UpdateValue(kSectorSection, kSectorList, std::to_string(count));
    const int record = StoreSectorRecord(low);
    return stored != rt::kNoError ? stored : record;
  });
  sectorsStored_ = result == rt::kNoError;
  return result;
}

int IniManager::RemoveSector(std::string_view sectorName) {
  CriticalSectionGuard guard(CritSect.get());
  if (Sectors) {
    rt::Queue& sectors = *Sectors;
    const int before = sectors.Records();
    std::vector<std::tuple<int, std::string, std::string, std::string>> removed;
    const std::string wanted = rt::Upper(sectorName);
    const std::size_t hash = std::hash<std::string>()(wanted);
    for (auto at = FoldedAt(hash); at != byFoldedName_.end() && at->first == hash;) {
      const SectorKey& key = at->second;
      if (FoldedName(key) != wanted) {
        ++at;
        continue;
      }
      removed.emplace_back(SectorPosition(key), std::get<0>(key), std::get<1>(key),
                           std::get<2>(key));
      at = byFoldedName_.erase(at);
    }
    // From the last position back.
    std::sort(removed.begin(), removed.end(), std::greater<>());
    for (const auto& entry : removed) {
      sectors.Get(std::get<0>(entry));
      sectors.Delete();
    }
    if (!removed.empty()) {
      const std::vector<int> slotsBefore = slots_;
      const bool wasStored = sectorsStored_;
      // The catalogue's changes and the section go in one rewrite. The numbered entry of a
      // removed record takes the record of the last entry, so nothing else moves.
      const int result = Batched([&] {
        if (!wasStored) {
          slots_.clear();
          const int stored = StoreSectors();
          for (int n = sectors.Records() + 1; n <= before; ++n)
            TryDelete(kSectorSection, std::string(kSectorList) + "_" + std::to_string(n));
          DeleteSection(sectorName);
          return stored;
        }
        std::vector<int> freed;
        for (const auto& entry : removed) {  // from the last position back
          const auto at = slots_.begin() + (std::get<0>(entry) - 1);
          freed.push_back(*at);
          slots_.erase(at);
        }
        std::sort(freed.begin(), freed.end(), std::greater<>());
        int stored = rt::kNoError;
        int last = before;
        for (const int slot : freed) {
          if (slot != last) {
            const auto moved = std::find(slots_.begin(), slots_.end(), last);
            if (moved != slots_.end()) {
              *moved = slot;
              const int record = StoreSectorRecord(static_cast<int>(moved - slots_.begin()) + 1);
              if (stored == rt::kNoError) stored = record;
            }
          }
          TryDelete(kSectorSection, std::string(kSectorList) + "_" + std::to_string(last));
          --last;
        }
        const int count = UpdateValue(kSectorSection, kSectorList, std::to_string(last));
        DeleteSection(sectorName);
        return stored != rt::kNoError ? stored : count;
      });
      if (result != rt::kNoError) {
        // Put the records back where they were, so memory matches the store.
        for (auto it = removed.rbegin(); it != removed.rend(); ++it) {
          const auto& [n, family, item, type] = *it;
          sectors.Field(1).SetText(family);
          sectors.Field(2).SetText(item);
          sectors.Field(3).SetText(type);
          sectors.Add(n);
        }
        slots_ = slotsBefore;
        sectorsStored_ = wasStored;
        IndexSectors();
      }
      return result;
    }
  }
  return DeleteSection(sectorName);
}

int IniManager::DeleteSection(std::string_view section) {
  switch (NVType) {
    case kIniStorage:
      if (Collecting(FileName)) {
        pending_.push_back(
            {rt::IniFile::Change::Kind::DeleteSection, std::string(section), {}, {}});
        return rt::kNoError;
      }
      return rt::IniFile(FileName).DeleteSection(section);
    case kRegistryStorage:
      return rt::RegistryStore().DeleteKey(RegistryRoot(), RegistryKey(section, FileName));
    default:
      return rt::kNoError;
  }
}

void IniManager::ListSectors(std::string_view family, std::string_view item, std::string_view type,
                             rt::Queue& result) {
  CriticalSectionGuard guard(CritSect.get());
  result.Free();
  if (!Sectors) return;
  const std::string escapedItem = Escape(item);
  for (int n = 1; n <= Sectors->Records(); ++n) {
    const std::string rowFamily = Sectors->RowText(n, 1);
    const std::string rowItem = Sectors->RowText(n, 2);
    const std::string rowType = Sectors->RowText(n, 3);
    if (!family.empty() && family != rowFamily) continue;
    if (!item.empty() && escapedItem != rowItem) continue;
    if (!type.empty() && type != rowType) continue;
    result.Field(1).SetText(rowFamily);
    result.Field(2).SetText(Unescape(rowItem));
    result.Field(3).SetText(rowType);
    result.Add();
  }
}

std::string IniManager::FindSectorItem(std::string_view family, std::string_view item,
                                       std::string_view type) {
  CriticalSectionGuard guard(CritSect.get());
  const std::string wanted = rt::Upper(MakeSectorName(family, item, type));
  std::string least;
  const std::size_t hash = std::hash<std::string>()(wanted);
  for (auto at = FoldedAt(hash); at != byFoldedName_.end() && at->first == hash; ++at) {
    const auto& [rowFamily, rowItem, rowType] = at->second;
    if (rowFamily != family || rowType != type || FoldedName(at->second) != wanted) continue;
    std::string found = Unescape(rowItem);
    if (least.empty() || found < least) least = std::move(found);
  }
  return least;
}

std::string IniManager::FoldedName(const SectorKey& key) {
  return rt::Upper(std::get<0>(key) + "$" + std::get<1>(key) + "$$" + std::get<2>(key));
}

int IniManager::SectorPosition(const SectorKey& key) const {
  const rt::Queue& sectors = *Sectors;
  int low = 1;
  int high = sectors.Records() + 1;
  while (low < high) {
    const int middle = low + (high - low) / 2;
    if (std::make_tuple(sectors.RowText(middle, 1), sectors.RowText(middle, 2),
                        sectors.RowText(middle, 3)) < key)
      low = middle + 1;
    else
      high = middle;
  }
  return low;
}

void IniManager::IndexSectors() {
  byFoldedName_.clear();
  const rt::Queue& sectors = *Sectors;
  byFoldedName_.reserve(static_cast<std::size_t>(sectors.Records()));
  for (int n = 1; n <= sectors.Records(); ++n) {
    SectorKey key(sectors.RowText(n, 1), sectors.RowText(n, 2), sectors.RowText(n, 3));
    const std::size_t hash = std::hash<std::string>()(FoldedName(key));
    byFoldedName_.emplace_back(hash, std::move(key));
  }
  std::sort(byFoldedName_.begin(), byFoldedName_.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
}

std::vector<std::pair<std::size_t, IniManager::SectorKey>>::iterator IniManager::FoldedAt(
    std::size_t hash) {
  return std::lower_bound(byFoldedName_.begin(), byFoldedName_.end(), hash,
                          [](const auto& entry, std::size_t h) { return entry.first < h; });
}

std::string IniManager::RegistryKey(std::string_view section, std::string_view fileName) const {
  if (fileName.empty()) return std::string(section);
  return std::string(fileName) + "\\" + std::string(section);
}

std::uint32_t IniManager::RegistryRoot() const {
  return ExtraData == 0 ? rt::RegistryStore::kDefaultRoot : static_cast<std::uint32_t>(ExtraData);
}

int IniManager::ListLimit(std::string_view section) const {
  switch (NVType) {
    case kIniStorage:
      return static_cast<int>(rt::IniFile(FileName).Entries(section).size());
    case kRegistryStorage:
      return kRegistryListLimit;
    default:
      return 0;
  }
}

int IniManager::StoreSectors() {
  // Whole: record n in the numbered entry n.
  const int result = Batched([&] {
    return StoreList(kSectorSection, kSectorList, *Sectors, Sectors->Field(1), Sectors->Field(2),
                     {}, Sectors->Field(3), 1);
  });
  slots_.resize(static_cast<std::size_t>(Sectors->Records()));
  for (std::size_t i = 0; i < slots_.size(); ++i)
    slots_[i] = static_cast<int>(i) + 1;
  sectorsStored_ = result == rt::kNoError;
  return result;
}

int IniManager::StoreSectorRecord(int position) {
  rt::Queue& sectors = *Sectors;
  sectors.Get(position);
  std::string value = EncodePart(FieldText(sectors.Field(1)));
  value += "," + EncodePart(FieldText(sectors.Field(2)));
  value += "," + EncodePart(FieldText(sectors.Field(3)));
  value.resize(CutText(value, kIniRecordSize - 1).size());
  return UpdateValue(kSectorSection,
                     std::string(kSectorList) + "_" +
                         std::to_string(slots_[static_cast<std::size_t>(position - 1)]),
                     value);
}

bool IniManager::SortSectors() {
  // The catalogue is kept sorted in memory; in the file its records lie in the order they
  // were added. A catalogue edited by hand may hold a record twice: dropped here.
  rt::Queue& sectors = *Sectors;
  std::vector<std::tuple<std::string, std::string, std::string, int>> rows;
  rows.reserve(static_cast<std::size_t>(sectors.Records()));
  for (int n = 1; n <= sectors.Records(); ++n)
    rows.emplace_back(sectors.RowText(n, 1), sectors.RowText(n, 2), sectors.RowText(n, 3), n);
  const auto less = [](const auto& a, const auto& b) {
    return std::tie(std::get<0>(a), std::get<1>(a), std::get<2>(a)) <
           std::tie(std::get<0>(b), std::get<1>(b), std::get<2>(b));
  };
  const auto same = [&](const auto& a, const auto& b) { return !less(a, b) && !less(b, a); };
  slots_.clear();
  if (std::is_sorted(rows.begin(), rows.end(), less) &&
      std::adjacent_find(rows.begin(), rows.end(), same) == rows.end()) {
    for (const auto& row : rows)
      slots_.push_back(std::get<3>(row));
    return false;
  }
  std::stable_sort(rows.begin(), rows.end(), less);
  const auto end = std::unique(rows.begin(), rows.end(), same);
  const bool dropped = end != rows.end();
  rows.erase(end, rows.end());
  sectors.Free();
  for (const auto& [family, item, type, slot] : rows) {
    sectors.Field(1).SetText(family);
    sectors.Field(2).SetText(item);
    sectors.Field(3).SetText(type);
    sectors.Add();
    slots_.push_back(slot);
  }
  return dropped;
}
