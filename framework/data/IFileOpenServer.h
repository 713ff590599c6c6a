// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The object that really opens and closes a table's file through the runtime. Openers are
// counted: AddRef takes a further reference, Release gives one back (the last one destroys
// the opener).

class IFileOpenServer {
 public:
  virtual ~IFileOpenServer() = default;
  // Opens the file with an access and share mode; returns the runtime error code (0 opened).
  virtual int Open(int mode) = 0;
  // Closes the file; returns the runtime error code.
  virtual int Close() = 0;
  virtual void AddRef() = 0;
  virtual void Release() = 0;
};
