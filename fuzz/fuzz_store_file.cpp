// SPDX-License-Identifier: GPL-3.0-or-later
// Opens damaged table files through the STORE driver and reads and changes everything in
// them: no input may crash, hang or trip a sanitizer. An input that starts like a database
// file is used as the whole file; any other input is a list of 4-byte patches (3-byte offset,
// 1 byte to XOR) applied to a small valid table, which reaches far deeper than random files.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/store/StoreDriver.h"

namespace {

std::unique_ptr<rt::File> Table(const std::string& name) {
  rt::RecordLayout layout("Fuzz");
  layout.AddField("FUZ:ID", rt::FieldType::Long);
  layout.AddField("FUZ:Name", rt::FieldType::String, 20);
  layout.AddField("FUZ:Grp", rt::FieldType::Byte);
  auto f = std::make_unique<rt::File>("FUZZ", "FUZ", "STORE", layout);
  f->AddKey("FUZ:ID_Key", {{1, true, false}}, true, true);
  f->AddKey("FUZ:Name_Key", {{2, false, true}, {3, true, false}}, false);
  f->AddBlob("FUZ:Data");
  f->SetName(name);
  return f;
}

void Remove(const std::string& name) {
  for (const char* suffix : {"", "-wal", "-shm"})
    ::unlink((name + rt::kStoreExtension + suffix).c_str());
}

// A valid table of a few records with BLOBs of one and of several chunks, as bytes.
std::string Seed(const std::string& name) {
  Remove(name);
  {
    auto f = Table(name);
    if (f->Create() != 0 || f->Open(rt::kOpenReadWriteDenyNone) != 0) __builtin_trap();
    const auto& l = f->Layout();
    for (int id = 1; id <= 4; ++id) {
      f->ClearRecord();
      rt::WriteInteger(l.Field(1), f->Record(), id);
      rt::WriteText(l.Field(2), f->Record(), "name" + std::to_string(id));
      rt::WriteInteger(l.Field(3), f->Record(), id * 50);
      const std::string blob(
          static_cast<std::size_t>(id == 4 ? rt::kStoreChunkSize + 99 : 300 * id),
          static_cast<char>('a' + id));
      f->SetBlobContents(1, blob);
      if (f->Add() != 0) __builtin_trap();
    }
  }
  std::ifstream in(name + rt::kStoreExtension, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Exercise(rt::File& f) {
  std::string blob;
  for (int order = 0; order <= f.KeyCount(); ++order) {
    if ((order == 0 ? f.Set() : f.Set(*f.Key(order))) != 0) continue;
    for (int guard = 0; guard < 64 && f.Next() == 0; ++guard) {
      f.GetBlobContents(1, blob);
      char piece[64];
      std::size_t got = 0;
      f.ReadBlob(1, rt::kStoreChunkSize - 10, piece, sizeof piece, got);
      if (!f.ReadOnly()) {
        f.WriteBlob(1, 1, "x", 1);
        f.Put();
      }
    }
  }
  std::int64_t count = 0;
  f.Records(count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string name =
      std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/fuzz-store-" +
      std::to_string(::getpid());
  static const bool registered = (rt::RegisterStoreDriver(), true);
  static const std::string seed = Seed(name);
  (void)registered;

  std::string bytes;
  if (size >= 16 && std::memcmp(data, "SQLite format 3", 16) == 0) {
    bytes.assign(reinterpret_cast<const char*>(data), size);
  } else {
    bytes = seed;
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
      const std::size_t at = (data[i] | (data[i + 1] << 8) | (data[i + 2] << 16)) % bytes.size();
      bytes[at] = static_cast<char>(bytes[at] ^ data[i + 3]);
    }
  }
  Remove(name);
  if (std::FILE* out = std::fopen((name + rt::kStoreExtension).c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  }
  for (const int mode : {rt::kOpenReadOnlyDenyNone, rt::kOpenReadWriteDenyNone}) {
    auto f = Table(name);
    if (f->Open(mode) == 0) Exercise(*f);
  }
  Remove(name);
  return 0;
}
