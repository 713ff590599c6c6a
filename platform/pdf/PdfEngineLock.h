// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Process-wide preparation of the PDF library and the lock for its shared state.
//
// The library builds some global state (colour spaces, font tables) lazily on its first
// render, which is not safe to race. Prepare() renders a tiny built-in page once, under the
// process-wide lock, before any engine loads or renders a document, and keeps that document
// open so the global state lives for the whole process. It also silences the library's
// diagnostic output. Loading documents takes the same lock, so a load never races the
// preparation.

#include <mutex>

namespace rt {

class PdfEngineLock {
 public:
  // Idempotent and thread-safe; every engine operation that reaches the library calls it.
  static void Prepare();
  // The process-wide lock for the library's shared state.
  static std::mutex& Mutex();
  // Number of library diagnostics swallowed since the process started (for tests).
  static long SilencedMessages();
};

}  // namespace rt
