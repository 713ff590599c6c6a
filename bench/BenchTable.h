// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The table both paging benchmarks read: a number, a file name and a BLOB, keyed on the number;
// how it is filled; and the scratch folder it lives in.

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include "platform/runtime/files/File.h"
#include "platform/runtime/files/FileTransaction.h"
#include "platform/store/Store.h"

namespace bench {

inline constexpr int kPage = 20;
inline constexpr int kPages = 2000;

inline rt::RecordLayout Layout() {
  rt::RecordLayout layout("Bench");
  layout.AddField("BEN:ID", rt::FieldType::Long);
  layout.AddField("BEN:FileName", rt::FieldType::String, 80);
  return layout;
}

inline std::unique_ptr<rt::File> Table(const std::string& name,
                                       const std::string& driver = rt::kStoreDriverName) {
  auto f = std::make_unique<rt::File>("BENCH", "BEN", driver, Layout());
  f->AddKey("BEN:ID_Key", {{1, true, false}}, true, true);
  f->AddBlob("BEN:DataBlob");
  f->SetName(name);
  return f;
}

// Creates the table `f` declares with rows 1..rows, the file name of each from fileName(id),
// in one transaction, and leaves it open. False when any step fails.
inline bool FillTable(rt::File& f, int rows, const std::function<std::string(int)>& fileName) {
  if (f.Create() != 0 || f.Open(rt::kOpenReadWriteDenyNone) != 0 ||
      f.SetTransactionMember(true) != 0)
    return false;
  if (rt::StartTransaction(10) != 0) return false;
  const auto& l = f.Layout();
  for (int i = 1; i <= rows; ++i) {
    rt::WriteInteger(l.Field(1), f.Record(), i);
    rt::WriteText(l.Field(2), f.Record(), fileName(i));
    if (f.Add() != 0) {
      rt::RollbackTransaction();
      return false;
    }
  }
  return rt::CommitTransaction() == 0;
}

// FillTable on the STORE table of that name.
inline bool BuildTable(const std::string& name, int rows,
                       const std::function<std::string(int)>& fileName) {
  auto f = Table(name);
  return FillTable(*f, rows, fileName);
}

// A temporary folder for the tables, removed on every way out of the benchmark (the large
// tables take hundreds of megabytes).
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  bool Ok() const { return !path_.empty(); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace bench
