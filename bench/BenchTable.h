#pragma once
// The table both paging benchmarks read: a number, a file name and a BLOB, keyed on the number.

#include <memory>
#include <string>

#include "platform/runtime/files/File.h"

namespace bench {

inline constexpr int kPage = 20;
inline constexpr int kPages = 2000;

inline rt::RecordLayout Layout() {
  rt::RecordLayout layout("Bench");
  layout.AddField("BEN:ID", rt::FieldType::Long);
  layout.AddField("BEN:FileName", rt::FieldType::String, 80);
  return layout;
}

inline std::unique_ptr<rt::File> Table(const std::string& name) {
  auto f = std::make_unique<rt::File>("BENCH", "BEN", "STORE", Layout());
  f->AddKey("BEN:ID_Key", {{1, true, false}}, true, true);
  f->AddBlob("BEN:DataBlob");
  f->SetName(name);
  return f;
}

}  // namespace bench
