// SPDX-License-Identifier: GPL-3.0-or-later
// A 200 MB file copied into the document BLOB, stored and read back byte for byte, without
// the copy holding more than a couple of copies of it in memory.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/LoadBlobFromFile.h"
#include "framework/error/ErrorHooks.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "support/WorkDir.h"

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kFileSize = 200LL * 1024 * 1024 + 12345;  // not a whole number of reads
constexpr std::size_t kBlock = 1024 * 1024;

// 64-bit FNV-1a, fed in pieces.
class Hash {
 public:
  void Add(const char* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
      value_ ^= static_cast<std::uint8_t>(data[i]);
      value_ *= 1099511628211ULL;
    }
  }
  std::uint64_t Value() const { return value_; }

 private:
  std::uint64_t value_ = 14695981039346656037ULL;
};

std::int64_t PeakResidentBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::int64_t>(usage.ru_maxrss) * 1024;
}

// Writes pseudo-random bytes; returns their hash.
std::uint64_t WriteFile(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  std::vector<char> block(kBlock);
  std::uint64_t state = 0x9E3779B97F4A7C15ULL;
  Hash hash;
  for (std::int64_t written = 0; written < kFileSize;) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::int64_t>(kBlock, kFileSize - written));
    for (std::size_t i = 0; i < n; ++i) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      block[i] = static_cast<char>(state);
    }
    out.write(block.data(), static_cast<std::streamsize>(n));
    hash.Add(block.data(), n);
    written += static_cast<std::int64_t>(n);
  }
  return hash.Value();
}

TEST(DemoDataLargeBlob, TwoHundredMegabytesAreStoredExactly) {
  testing_support::WorkDir work("demo-data-large");
  ASSERT_TRUE(work.Ok());
  auto backend = rt::InstallHeadlessBackend();
  StartGlobalErrors();
  CreateDemoDataManagers();
  DemoDataRelationManager& relations = *DemoDataRelationManagerRef();
  DemoDataFileManager& files = *DemoDataFileManagerRef();

  const std::uint64_t expected = WriteFile("large.pdf");
  ASSERT_EQ(relations.Open(), LevelQuiet);
  ASSERT_EQ(files.PrepareRecord(), LevelQuiet);
  ASSERT_EQ(relations.Insert(), LevelQuiet);
  ASSERT_EQ(files.PrepareRecord(), LevelQuiet);
  const std::int64_t before = PeakResidentBytes();

  ASSERT_EQ(LoadBlobFromFile(DemoData(), kDemoDataBlob, "large.pdf"), 0);
  SetDemoDataFileName("large.pdf");
  ASSERT_EQ(relations.Insert(), LevelQuiet);
  const std::int32_t id = DemoDataId();

  DemoData().ClearRecord();
  SetDemoDataId(id);
  ASSERT_EQ(files.TryFetchByKey(DemoDataIdKey()), LevelQuiet);
  ASSERT_EQ(DemoData().BlobSize(kDemoDataBlob), kFileSize);
  Hash hash;
  std::vector<char> block(kBlock);
  for (std::int64_t offset = 0; offset < kFileSize;) {
    std::size_t got = 0;
    ASSERT_EQ(DemoData().ReadBlob(kDemoDataBlob, offset, block.data(), block.size(), got), 0);
    ASSERT_GT(got, 0u);
    hash.Add(block.data(), got);
    offset += static_cast<std::int64_t>(got);
  }
  EXPECT_EQ(hash.Value(), expected);
  const std::int64_t growth = PeakResidentBytes() - before;
  EXPECT_LT(growth, kFileSize * 5 / 2);

  static_cast<void>(relations.Close());
  ReleaseDemoDataManagers();
  DestroyDemoData();
  DestroyInFile();
}

}  // namespace
