// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A small table for the store tests: ID (long), Name (string 20), Grp (short), one BLOB, with
// a unique primary key on ID, a case-insensitive duplicate key on Name and a key on Grp
// descending then Name. Each fixture works in its own temporary folder; DriverSuite runs its
// cases on both table drivers (STORE on a local file, PGSTORE on the test run's server).

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "platform/pgstore/PgStore.h"
#include "platform/runtime/files/File.h"
#include "platform/store/Store.h"
#include "support/PgServer.h"
#include "support/TempDir.h"

namespace storetest {

inline rt::RecordLayout TestLayout() {
  rt::RecordLayout layout("TestRec");
  layout.AddField("TST:ID", rt::FieldType::Long);
  layout.AddField("TST:Name", rt::FieldType::String, 20);
  layout.AddField("TST:Grp", rt::FieldType::Short);
  return layout;
}

inline std::unique_ptr<rt::File> MakeTable(const std::string& path,
                                           const std::string& driver = rt::kStoreDriverName) {
  rt::RegisterStoreDriver();
  auto file = std::make_unique<rt::File>("TESTDATA", "TST", driver, TestLayout());
  file->AddKey("TST:ID_Key", {{1, true, false}}, true, true);
  file->AddKey("TST:Name_Key", {{2, true, true}}, false);
  file->AddKey("TST:Grp_Key", {{3, false, false}, {2, true, false}}, false);
  file->AddBlob("TST:Data");
  file->SetName(path);
  return file;
}

class StoreFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.Ok());
    dir_ = temp_.Path().string();
    path_ = dir_ + "/TESTDATA";
  }

  std::unique_ptr<rt::File> MakeTable(const std::string& path) const {
    return storetest::MakeTable(path, driver_);
  }
  bool OnServer() const { return driver_ == rt::kPgDriverName; }

  std::unique_ptr<rt::File> Opened(int mode = rt::kOpenReadWriteDenyNone) {
    auto f = MakeTable(path_);
    if (OnServer() || !std::filesystem::exists(path_ + ".sqlite")) {
      EXPECT_EQ(f->Create(), 0);
    }
    EXPECT_EQ(f->Open(mode), 0);
    return f;
  }

  static void SetRow(rt::File& f, int id, const std::string& name, int grp) {
    f.ClearRecord();
    const auto& l = f.Layout();
    rt::WriteInteger(l.Field(1), f.Record(), id);
    rt::WriteText(l.Field(2), f.Record(), name);
    rt::WriteInteger(l.Field(3), f.Record(), grp);
  }
  static int AddRow(rt::File& f, int id, const std::string& name, int grp) {
    SetRow(f, id, name, grp);
    return f.Add();
  }
  static int Id(const rt::File& f) {
    return static_cast<int>(rt::ReadInteger(f.Layout().Field(1), f.Record()));
  }
  static std::string Name(const rt::File& f) {
    std::string s = rt::ReadText(f.Layout().Field(2), f.Record());
    while (!s.empty() && s.back() == ' ')
      s.pop_back();
    return s;
  }
  // IDs read with Next until the end of the sequence.
  static std::vector<int> ReadAll(rt::File& f, bool backwards = false) {
    return ReadIds(f, f, backwards);
  }
  // IDs of the records `reader` (the file itself or a view over it) reads into `f`'s record
  // buffer with Next (or Previous) until the end.
  template <typename Reader>
  static std::vector<int> ReadIds(Reader& reader, const rt::File& f, bool backwards = false) {
    std::vector<int> ids;
    while ((backwards ? reader.Previous() : reader.Next()) == 0)
      ids.push_back(Id(f));
    return ids;
  }

  testing_support::TempDir temp_{"storetest"};
  std::string dir_;
  std::string path_;
  std::string driver_ = rt::kStoreDriverName;
  testing_support::PgServer* server_ = nullptr;
};

// The same cases on each table driver; on the server each case starts with an empty database.
class DriverSuite : public StoreFixture, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    driver_ = GetParam();
    if (!OnServer()) return;
    std::string why;
    server_ = testing_support::PgServer::Shared(&why);
    if (!server_) GTEST_SKIP() << "no database server for the tests: " << why;
    rt::RegisterPgDriver(server_->Conninfo());
    ASSERT_TRUE(server_->Clear());
  }
};

inline std::string DriverName(const ::testing::TestParamInfo<const char*>& info) {
  return info.param;
}

#define ON_BOTH_DRIVERS(suite)                                                         \
  INSTANTIATE_TEST_SUITE_P(Drivers, suite,                                             \
                           ::testing::Values(rt::kStoreDriverName, rt::kPgDriverName), \
                           storetest::DriverName)

}  // namespace storetest
