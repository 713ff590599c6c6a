// SPDX-License-Identifier: GPL-3.0-or-later
// Opening what is not a plain file (a named pipe, a directory, a device) and names the system
// would cut short, through the handle and through a RAW file.

#include "platform/runtime/files/FileHandle.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>

#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {
namespace {

namespace fs = std::filesystem;

class FileHandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "filehandle-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fifo_ = (dir_ / "pipe.pdf").string();
    ASSERT_EQ(::mkfifo(fifo_.c_str(), 0644), 0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs an open that must not block; a blocked one is released by a writer and fails.
  int OpenWithin(const std::function<int()>& open) {
    auto result = std::async(std::launch::async, open);
    if (result.wait_for(std::chrono::seconds(3)) == std::future_status::ready) return result.get();
    // Both a reader and a writer: releases an open blocked on either side.
    const int writer = ::open(fifo_.c_str(), O_RDWR | O_NONBLOCK);
    result.wait();
    if (writer >= 0) ::close(writer);
    ADD_FAILURE() << "the open blocked";
    return -1;
  }

  fs::path dir_;
  std::string fifo_;
};

TEST_F(FileHandleTest, OnlyRegularFilesOpenAndNothingBlocks) {
  for (int flags : {O_RDONLY, O_WRONLY, O_RDWR}) {
    FileHandle handle;
    std::string text;  // the error is the opening thread's
    auto open = [&] {
      const int code = handle.Open(fifo_, flags);
      text = ErrorText();
      return code;
    };
    EXPECT_EQ(OpenWithin(open), kAccessDenied) << flags;
    EXPECT_FALSE(handle.IsOpen());
    EXPECT_NE(text.find("not a file"), std::string::npos) << text;
  }
  FileHandle handle;
  EXPECT_EQ(handle.Open("/dev/null", O_RDONLY), kAccessDenied);
  EXPECT_EQ(handle.Open(dir_.string(), O_RDONLY), kAccessDenied);

  // A plain file opens as before, reads block normally (no leftover non-blocking flag).
  const std::string plain = (dir_ / "plain.pdf").string();
  std::ofstream(plain) << "%PDF-1.4";
  ASSERT_EQ(handle.Open(plain, O_RDONLY), kNoError);
  EXPECT_EQ(::fcntl(handle.Fd(), F_GETFL) & O_NONBLOCK, 0);
  char buffer[8];
  std::size_t got = 0;
  EXPECT_EQ(handle.ReadAt(0, buffer, sizeof buffer, got), kNoError);
  EXPECT_EQ(std::string(buffer, got), "%PDF-1.4");
}

TEST_F(FileHandleTest, RawFilesRefusePipesAndNamesHoldingANul) {
  RecordLayout layout("IN");
  layout.AddField("BUFFER", FieldType::String, 64);
  File in("IN", "", "RAW", std::move(layout));
  in.SetName(fifo_);
  EXPECT_EQ(OpenWithin([&] { return in.Open(0x40); }), kAccessDenied);
  EXPECT_FALSE(in.IsOpen());

  // "plain.pdf<NUL>.exe" must not open "plain.pdf", nor create anything.
  const std::string plain = (dir_ / "plain.pdf").string();
  std::ofstream(plain) << "x";
  in.SetName(plain + std::string(1, '\0') + ".exe");
  EXPECT_EQ(in.Open(0x40), kBadNameError);
  EXPECT_EQ(ErrorCode(), kBadNameError);
  EXPECT_EQ(in.Create(), kBadNameError);
  FileHandle handle;
  EXPECT_EQ(handle.Open(plain + std::string(1, '\0'), O_RDONLY), kBadNameError);
  EXPECT_EQ(fs::file_size(plain), 1u);
}

}  // namespace
}  // namespace rt
