// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The DemoData table as a test sees it (header only: for the tests that link the
// application): each row's file name and a hash of its stored bytes, by number, read on a
// runtime thread of its own.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/DemoData.h"
#include "app/DemoDataRelationManager.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/FixedString.h"

namespace testing_support {

inline std::uint64_t Hash(std::string_view bytes) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : bytes)
    h = (h ^ c) * 1099511628211ull;
  return h;
}

inline std::uint64_t FileHash(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Hash(std::string(std::istreambuf_iterator<char>(in), {}));
}

struct Row {
  std::string name;
  std::uint64_t hash = 0;
  bool operator==(const Row&) const = default;
};
using Rows = std::map<int, Row>;

// The table as a fresh thread reads it (the program must be running).
inline Rows DemoTable() {
  std::promise<Rows> done;
  rt::Start([&](const std::vector<std::string>&) {
    Rows rows;
    static_cast<void>(DemoDataRelationManagerRef()->Open());
    rt::File& file = DemoData();
    static_cast<void>(file.Set(DemoDataIdKey()));
    while (file.Next() == 0) {
      std::string bytes;
      static_cast<void>(file.GetBlobContents(kDemoDataBlob, bytes));
      rows[DemoDataId()] = {std::string(rt::ClipText(DemoDataFileName())), Hash(bytes)};
    }
    static_cast<void>(DemoDataRelationManagerRef()->Close());
    done.set_value(rows);
  });
  return done.get_future().get();
}

}  // namespace testing_support
