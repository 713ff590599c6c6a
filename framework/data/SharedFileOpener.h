// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The opener of a table shared by all threads: the driver open happens for the first open
// over all threads and the driver close for the last close. The open count changes under the
// opener's own lock; the reference count and the opener's entry in the process-wide list
// change under the registry's lock.
//
// The file's own open and close (and the callbacks they run) happen outside the opener's lock,
// so that a callback may use the file or the opener from another thread. Meanwhile the opener
// is marked as changing: Open and Close on other threads wait for the outcome; the changing
// thread itself (a callback opening the table again) goes on.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <thread>

#include "framework/data/IFileOpenServer.h"
#include "framework/data/LockHolder.h"
#include "platform/runtime/files/File.h"

class SharedFileOpener : public IFileOpenServer {
 public:
  rt::File* MyFile = nullptr;
  std::int32_t Usage = 0;  // references beyond the first
  std::unique_ptr<LockHolder> CSect;
  std::int32_t FileUsageCount = 0;  // opens not yet matched by closes, over all threads

  SharedFileOpener();
  ~SharedFileOpener() override;
  void Init(rt::File& file);

  int Open(int mode) override;
  int Close() override;
  void AddRef() override;
  // Lowers the usage, or removes the opener from the process-wide list and destroys it.
  void Release() override;

 private:
  class Change;
  // Under the lock: waits until no other thread is opening or closing the file.
  void WaitForOtherChanges();

  std::condition_variable_any changeDone_;
  std::thread::id changingThread_;  // the thread opening or closing the file, if any
  int changeDepth_ = 0;             // its nested opens and closes
};
