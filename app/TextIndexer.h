// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The background indexer: a runtime thread at the lowest priority that keeps the full-text
// index of the document table up to date. Started at program start-up, it removes the entries
// of deleted and changed documents and indexes new and changed ones page by page, a few pages
// (at most 8, or 128 KB of text) per transaction, so the user's writes never wait long, no
// more than those pages' text is held, and an interrupted run (an exit, a crash, kill -9)
// resumes after the last pages committed. Documents without a text layer, password-protected or
// damaged are marked so and not tried again until they change. When idle it checks every half
// second whether the table changed. Nothing needs marking when a document is written: the
// table's own change counter, raised in the write's transaction, tells the indexer (see
// TextIndex.h).

#include <functional>
#include <memory>

#include "platform/runtime/files/TextIndex.h"
#include "platform/runtime/windows/Events.h"

class TextIndexer {
 public:
  // Posted to the threads that asked for it whenever the index's progress changed.
  static constexpr int kProgressEvent = rt::event::kTimer;

  // Opens the text index of the calling thread's document table through the index of its
  // driver (STORE keeps it in the table's file, PGSTORE on the server beside the table); 80
  // when the driver keeps none, 2 while the table does not exist yet (or the server cannot be
  // reached).
  static int OpenIndex(std::unique_ptr<rt::TextIndex>& index);

  // Starts the indexer thread (once); Stop asks it to end and returns at once: it ends at its
  // next page, and the program's end waits for it.
  static void Start();
  static void Stop();
  // The thread number of the running indexer (0: none).
  static int Thread();

  // Threads whose windows show progress: each gets kProgressEvent on every change.
  static void Subscribe(int thread);
  static void Unsubscribe(int thread);

  // Brings the index up to date: stale entries out, then every pending document in; returns
  // early (0) once `stop` answers true. `changed` is called after every finished document.
  // The runtime error code of a failure of the index itself.
  static int IndexPending(rt::TextIndex& index, const std::function<bool()>& stop,
                          const std::function<void()>& changed = {});
};
