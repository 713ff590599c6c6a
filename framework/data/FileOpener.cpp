// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/data/FileOpener.h"

#include "framework/data/FileOpenRegistry.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

void FileOpener::Init(rt::File& file) {
  MyFile = &file;
}

int FileOpener::Open(int mode) {
  if (!MyFile) {
    rt::SetError(rt::kFileNotOpenError);
    return rt::kFileNotOpenError;
  }
  const int result = MyFile->Open(mode);
  if (result == rt::kIsOpenError) {
    rt::ClearError();
    return rt::kNoError;
  }
  return result;
}

int FileOpener::Close() {
  if (!MyFile) return rt::kNoError;
  return MyFile->Close();
}

void FileOpener::AddRef() {
  ++Usage;
}

void FileOpener::Release() {
  if (Usage > 0) {
    --Usage;
    return;
  }
  FileOpenRegistry::DestroyPrivate(*this);  // destroys this object: nothing may follow
}
