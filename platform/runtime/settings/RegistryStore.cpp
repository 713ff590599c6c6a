// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/settings/RegistryStore.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {

namespace {

std::string EnvValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

RegistryStore::RegistryStore() : file_(DefaultFilePath()) {}

RegistryStore::RegistryStore(std::string_view filePath) : file_(filePath) {}

std::string RegistryStore::DefaultFilePath() {
  std::string base = EnvValue("XDG_CONFIG_HOME");
  if (base.empty() || base.front() != '/') {
    std::string home = EnvValue("HOME");
    base = (home.empty() ? std::string(".") : home) + "/.config";
  }
  return base + "/pagelet-demo/registry.ini";
}

std::string RegistryStore::SectionName(std::uint32_t root, std::string_view keyPath) {
  char rootText[16];
  std::snprintf(rootText, sizeof rootText, "%08X", root == 0 ? kDefaultRoot : root);
  std::string section = rootText;
  std::string part;
  auto flush = [&] {
    if (!part.empty()) section += "\\" + part;
    part.clear();
  };
  for (char c : keyPath) {
    if (c == '\\' || c == '/') {
      flush();
    } else {
      part += c;
    }
  }
  flush();
  return section;
}

std::string RegistryStore::Get(std::uint32_t root, std::string_view keyPath, std::string_view name,
                               std::string_view defaultValue) const {
  return file_.Get(SectionName(root, keyPath), name, defaultValue);
}

bool RegistryStore::Has(std::uint32_t root, std::string_view keyPath, std::string_view name) const {
  return file_.Has(SectionName(root, keyPath), name);
}

int RegistryStore::Put(std::uint32_t root, std::string_view keyPath, std::string_view name,
                       std::string_view value) {
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::path(file_.Path()).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ec);
  if (ec) {
    int code = ec == std::errc::permission_denied ? kAccessDenied : kFileSystemError;
    SetError(code, StandardErrorText(code) + ": " + ec.message() + " (" + folder.string() + ")");
    return code;
  }
  return file_.Put(SectionName(root, keyPath), name, value);
}

int RegistryStore::Delete(std::uint32_t root, std::string_view keyPath, std::string_view name) {
  return file_.DeleteEntry(SectionName(root, keyPath), name);
}

int RegistryStore::DeleteKey(std::uint32_t root, std::string_view keyPath) {
  return file_.DeleteSection(SectionName(root, keyPath));
}

}  // namespace rt
