// SPDX-License-Identifier: GPL-3.0-or-later
// The lock of a shared file covers its operations, not the callbacks around them.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "platform/runtime/files/File.h"
#include "support/BeforeOperation.h"
#include "support/TempDir.h"
#include "support/Watchdog.h"

namespace {

using testing_support::BeforeOperation;

TEST(FileLockTest, CallbacksRunWithoutTheLockAndRemovalWaitsForThem) {
  testing_support::TempDir dir("file-lock");
  ASSERT_TRUE(dir.Ok());
  rt::RecordLayout layout("Buffer");
  layout.AddField("BUFFER", rt::FieldType::String, 4);
  rt::File file("BYTES", "", "RAW", std::move(layout));
  file.SetShared(true);
  file.SetName(dir.Write("bytes.bin", "abcdefgh"));
  ASSERT_EQ(file.Open(rt::kAccessReadOnly | rt::kShareDenyNone), 0);
  testing_support::Watchdog watchdog("CallbacksRunWithoutTheLockAndRemovalWaitsForThem");

  // A callback hands work on the same file to another thread and waits for it.
  int sizeResult = -1;
  std::int64_t size = 0;
  BeforeOperation helper(rt::kOpGetByPointer,
                         [&] { std::thread([&] { sizeResult = file.Size(size); }).join(); });
  file.AddCallback(helper);
  EXPECT_EQ(file.GetByPointer(5, 4), 0);
  EXPECT_EQ(sizeResult, 0);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.Record()), 4), "efgh");
  file.RemoveCallback(helper);

  // Removing a callback on another thread returns only once its run here has ended, so the
  // remover may destroy it.
  std::atomic<bool> running{false};
  std::atomic<bool> removing{false};
  std::atomic<bool> ended{false};
  BeforeOperation slow(rt::kOpGetByPointer, [&] {
    running = true;
    while (!removing)
      std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ended = true;
  });
  file.AddCallback(slow);
  bool endedBeforeRemoval = false;
  std::thread remover([&] {
    while (!running)
      std::this_thread::yield();
    removing = true;
    file.RemoveCallback(slow);
    endedBeforeRemoval = ended;
  });
  EXPECT_EQ(file.GetByPointer(1, 4), 0);
  remover.join();
  EXPECT_TRUE(endedBeforeRemoval);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.Record()), 4), "abcd");
  EXPECT_EQ(file.Close(), 0);
}

}  // namespace
