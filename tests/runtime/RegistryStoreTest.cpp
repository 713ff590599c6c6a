// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/settings/RegistryStore.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/runtime/threads/ErrorCodes.h"
#include "support/TempDir.h"

namespace rt {
namespace {

namespace fs = std::filesystem;

// Points XDG_CONFIG_HOME and HOME at a temporary folder for the test and restores them.
class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.Ok());
    dir_ = temp_.Path();
    Save("XDG_CONFIG_HOME", savedXdg_, hadXdg_);
    Save("HOME", savedHome_, hadHome_);
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    ::setenv("HOME", (dir_ / "home").c_str(), 1);
  }
  void TearDown() override {
    Restore("XDG_CONFIG_HOME", savedXdg_, hadXdg_);
    Restore("HOME", savedHome_, hadHome_);
  }
  static void Save(const char* name, std::string& value, bool& had) {
    const char* v = std::getenv(name);
    had = v != nullptr;
    value = had ? v : "";
  }
  static void Restore(const char* name, const std::string& value, bool had) {
    if (had) {
      ::setenv(name, value.c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }

  testing_support::TempDir temp_{"registry"};
  fs::path dir_;
  std::string savedXdg_, savedHome_;
  bool hadXdg_ = false, hadHome_ = false;
};

TEST_F(RegistryStoreTest, ValuesRoundTripInThePerUserFile) {
  RegistryStore store;
  const fs::path file = dir_ / "config" / "pagelet-demo" / "registry.ini";
  EXPECT_EQ(store.FilePath(), file.string());
  EXPECT_EQ(store.Get(0, "Software\\Demo", "Query", "none"), "none");
  EXPECT_FALSE(fs::exists(file));

  ASSERT_EQ(store.Put(0, "Software\\Demo\\F$a$$Query", "Query_1", "DEM:ID,5,,"), kNoError);
  ASSERT_EQ(store.Put(0x80000001u, "Software\\Demo", "Query", "user root"), kNoError);
  EXPECT_TRUE(fs::exists(file));
  // A fresh store reads what the first one wrote; paths and names ignore case and stray
  // separators; root 0 is the default root and other roots are kept apart.
  RegistryStore again;
  EXPECT_EQ(again.Get(RegistryStore::kDefaultRoot, "/software/demo/f$A$$query\\", "QUERY_1"),
            "DEM:ID,5,,");
  EXPECT_EQ(again.Get(0, "Software\\Demo", "Query", "none"), "none");
  EXPECT_EQ(again.Get(0x80000001u, "Software\\\\Demo", "Query"), "user root");

  ASSERT_EQ(again.Delete(0x80000001u, "Software\\Demo", "Query"), kNoError);
  EXPECT_FALSE(store.Has(0x80000001u, "Software\\Demo", "Query"));
  EXPECT_TRUE(store.Has(0, "Software\\Demo\\F$a$$Query", "Query_1"));
  ASSERT_EQ(store.DeleteKey(0, "Software\\Demo\\F$a$$Query"), kNoError);
  EXPECT_FALSE(store.Has(0, "Software\\Demo\\F$a$$Query", "Query_1"));
}

TEST_F(RegistryStoreTest, LocationFallsBackToHomeWhenTheVariableIsUnusable) {
  ::setenv("XDG_CONFIG_HOME", "", 1);
  EXPECT_EQ(RegistryStore::DefaultFilePath(),
            (dir_ / "home" / ".config" / "pagelet-demo" / "registry.ini").string());
  ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  EXPECT_EQ(RegistryStore::DefaultFilePath(),
            (dir_ / "home" / ".config" / "pagelet-demo" / "registry.ini").string());
  ::unsetenv("XDG_CONFIG_HOME");
  RegistryStore store;
  ASSERT_EQ(store.Put(0, "Key", "Name", "v"), kNoError);
  EXPECT_TRUE(fs::exists(dir_ / "home" / ".config" / "pagelet-demo" / "registry.ini"));
}

TEST_F(RegistryStoreTest, BadValuesAreRefused) {
  RegistryStore store;
  EXPECT_EQ(store.Put(0, "Key", "", "v"), kBadNameError);
  EXPECT_EQ(store.Put(0, "Key", "Name", "two\nlines"), kBadNameError);
  EXPECT_EQ(store.Get(0, "Key", "Name", "d"), "d");
}

}  // namespace
}  // namespace rt
