#include "framework/data/SharedFileOpener.h"

#include "framework/data/FileOpenRegistry.h"
#include "framework/error/CriticalSectionGuard.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

SharedFileOpener::SharedFileOpener() : CSect(std::make_unique<LockHolder>()) {}

SharedFileOpener::~SharedFileOpener() = default;

void SharedFileOpener::Init(rt::File& file) {
  MyFile = &file;
  FileUsageCount = 0;
}

int SharedFileOpener::Open(int mode) {
  CriticalSectionGuard guard(CSect->CS.get());
  if (!MyFile) {
    rt::SetError(rt::kFileNotOpenError);
    return rt::kFileNotOpenError;
  }
  if (FileUsageCount == 0) {
    const int result = MyFile->Open(mode);
    if (result != rt::kNoError && result != rt::kIsOpenError) return result;
  }
  ++FileUsageCount;
  rt::ClearError();
  return rt::kNoError;
}

int SharedFileOpener::Close() {
  CriticalSectionGuard guard(CSect->CS.get());
  if (FileUsageCount > 0) {
    if (FileUsageCount == 1 && MyFile) {
      const int result = MyFile->Close();
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
