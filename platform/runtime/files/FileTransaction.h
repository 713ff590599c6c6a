// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The calling thread's transaction over the files that take part in it
// (File::SetTransactionMember): started, committed or rolled back together.

namespace rt {

class File;

// Starts a transaction on every member file of the thread; waits up to timeoutSeconds for
// other writers. On failure nothing stays started.
int StartTransaction(int timeoutSeconds);
int CommitTransaction();
int RollbackTransaction();
// True while the thread's transaction runs.
bool InTransaction();

// Membership bookkeeping, kept by File.
void AddTransactionMember(File& file);
void RemoveTransactionMember(File& file);

}  // namespace rt
