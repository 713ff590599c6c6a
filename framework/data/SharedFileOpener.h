#pragma once
// The opener of a table shared by all threads: the driver open happens for the first open
// over all threads and the driver close for the last close. The open count changes under the
// opener's own lock; the reference count and the opener's entry in the process-wide list
// change under the registry's lock.

#include <cstdint>
#include <memory>

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
};
