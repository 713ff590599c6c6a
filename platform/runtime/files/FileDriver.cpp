// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/files/FileDriver.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <unordered_map>

#include "platform/runtime/files/RawDriver.h"
#include "platform/runtime/files/TextDriver.h"
#include "platform/runtime/files/ViewCursor.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Text.h"

namespace rt {

int FileDriver::NotSupported() {
  SetError(kNoDriverError);
  return kNoDriverError;
}

int FileDriver::Create() {
  return NotSupported();
}
int FileDriver::Build() {
  return NotSupported();
}
int FileDriver::Send(std::string_view, std::string_view, std::string&) {
  return NotSupported();
}
int FileDriver::Records(std::int64_t&) {
  return NotSupported();
}
int FileDriver::SetFile() {
  return NotSupported();
}
int FileDriver::SetKey(const FileKey&, SetFrom) {
  return NotSupported();
}
int FileDriver::OpenViewCursor(const ViewQuery&, std::unique_ptr<ViewCursor>&) {
  return NotSupported();
}
int FileDriver::Next() {
  return NotSupported();
}
int FileDriver::Previous() {
  return NotSupported();
}
int FileDriver::GetByKey(const FileKey&) {
  return NotSupported();
}
int FileDriver::GetByPointer(std::int64_t, std::uint32_t) {
  return NotSupported();
}
int FileDriver::Position(const FileKey*, std::string&) {
  return NotSupported();
}
int FileDriver::Reset(const FileKey*, std::string_view) {
  return NotSupported();
}
int FileDriver::Reget(const FileKey*, std::string_view) {
  return NotSupported();
}
std::int64_t FileDriver::Pointer() const {
  return 0;
}
int FileDriver::Add(std::uint32_t) {
  return NotSupported();
}
int FileDriver::Put() {
  return NotSupported();
}
int FileDriver::WriteAt(std::int64_t, std::uint32_t) {
  return NotSupported();
}
int FileDriver::Delete() {
  return NotSupported();
}
int FileDriver::Duplicate(const FileKey*, bool&) {
  return NotSupported();
}
int FileDriver::Watch() {
  return NotSupported();
}
int FileDriver::StartTransaction(int) {
  return NotSupported();
}
int FileDriver::Commit() {
  return NotSupported();
}
int FileDriver::Rollback() {
  return NotSupported();
}
std::unique_ptr<FileDriverState> FileDriver::SaveState() {
  return std::make_unique<FileDriverState>();
}
int FileDriver::RestoreState(const FileDriverState&) {
  ClearError();
  return kNoError;
}
int FileDriver::SetPrefetch(int) {
  ClearError();
  return kNoError;
}
int FileDriver::BlobSize(int, std::int64_t&) {
  return NotSupported();
}
int FileDriver::SetBlobSize(int, std::int64_t) {
  return NotSupported();
}
int FileDriver::ReadBlob(int, std::int64_t, void*, std::size_t, std::size_t& got) {
  got = 0;
  return NotSupported();
}
int FileDriver::WriteBlob(int, std::int64_t, const void*, std::size_t) {
  return NotSupported();
}
int FileDriver::Size(std::int64_t&) {
  return NotSupported();
}

namespace {

struct DriverEntry {
  std::string extension;
  FileDriverFactory factory;
};

struct Registry {
  std::mutex mutex;
  std::unordered_map<std::string, DriverEntry> drivers;

  Registry() {
    drivers["RAW"] = {"", [](File& f) { return std::make_unique<RawDriver>(f); }};
    drivers["TEXT"] = {"", [](File& f) { return std::make_unique<TextDriver>(f); }};
  }
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterFileDriver(std::string name, std::string extension, FileDriverFactory factory) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.drivers[Upper(name)] = {std::move(extension), std::move(factory)};
}

bool FileDriverRegistered(std::string_view name) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  return r.drivers.count(Upper(name)) != 0;
}

std::unique_ptr<FileDriver> MakeFileDriver(std::string_view name, File& file) {
  FileDriverFactory factory;
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.drivers.find(Upper(name));
    if (it == r.drivers.end()) return nullptr;
    factory = it->second.factory;
  }
  return factory(file);
}

std::string FileDriverExtension(std::string_view name) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto it = r.drivers.find(Upper(name));
  return it == r.drivers.end() ? std::string() : it->second.extension;
}

}  // namespace rt
