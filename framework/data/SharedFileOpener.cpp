// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/data/SharedFileOpener.h"

#include "framework/data/FileOpenRegistry.h"
#include "framework/error/CriticalSectionGuard.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

namespace {

// The opener's critical section as a lock for the condition variable.
struct SectionLock {
  rt::CriticalSection& section;
  void lock() { section.Enter(); }
  void unlock() { section.Leave(); }
};

}  // namespace

// Opens or closes the file with the opener's lock left, the opener marked as changing.
class SharedFileOpener::Change {
 public:
  Change(SharedFileOpener& opener, CriticalSectionGuard& guard) : opener_(opener), guard_(guard) {
    opener_.changingThread_ = std::this_thread::get_id();
    ++opener_.changeDepth_;
  }
  Change(const Change&) = delete;
  Change& operator=(const Change&) = delete;

  template <typename Fn>
  int Run(Fn&& fn) {
    rt::CriticalSection* section = guard_.Sync;
    guard_.Release();
    const int result = fn();
    guard_.Wait(section);
    return result;
  }

  ~Change() {
    if (--opener_.changeDepth_ > 0) return;
    opener_.changingThread_ = {};
    opener_.changeDone_.notify_all();
  }

 private:
  SharedFileOpener& opener_;
  CriticalSectionGuard& guard_;
};

SharedFileOpener::SharedFileOpener() : CSect(std::make_unique<LockHolder>()) {}

SharedFileOpener::~SharedFileOpener() = default;

void SharedFileOpener::Init(rt::File& file) {
  MyFile = &file;
  FileUsageCount = 0;
}

void SharedFileOpener::WaitForOtherChanges() {
  SectionLock lock{*CSect->CS};
  const std::thread::id self = std::this_thread::get_id();
  changeDone_.wait(lock, [&] { return changeDepth_ == 0 || changingThread_ == self; });
}

int SharedFileOpener::Open(int mode) {
  CriticalSectionGuard guard(CSect->CS.get());
  if (!MyFile) {
    rt::SetError(rt::kFileNotOpenError);
    return rt::kFileNotOpenError;
  }
  WaitForOtherChanges();
  if (FileUsageCount == 0) {
    const int result = Change(*this, guard).Run([&] { return MyFile->Open(mode); });
    if (result != rt::kNoError && result != rt::kIsOpenError) return result;
  }
  ++FileUsageCount;
  rt::ClearError();
  return rt::kNoError;
}

int SharedFileOpener::Close() {
  CriticalSectionGuard guard(CSect->CS.get());
  WaitForOtherChanges();
  if (FileUsageCount > 0) {
    if (FileUsageCount == 1 && MyFile) {
      const int result = Change(*this, guard).Run([&] { return MyFile->Close(); });
      if (result != rt::kNoError) return result;
    }
    --FileUsageCount;
  }
  rt::ClearError();
  return rt::kNoError;
}

void SharedFileOpener::AddRef() {
  CriticalSectionGuard guard(FileOpenRegistry::Lock().CS.get());
  ++Usage;
}

void SharedFileOpener::Release() {
  CriticalSectionGuard guard(FileOpenRegistry::Lock().CS.get());
  if (Usage > 0) {
    --Usage;
    return;
  }
  FileOpenRegistry::DestroyShared(*this);  // destroys this object: nothing may follow
}
