// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Start-up hooks of the error subsystem and the process-wide error manager.

#include "framework/error/ErrorManager.h"
#include "framework/error/ErrorStatus.h"
#include "platform/runtime/threads/Threads.h"

// Registers the error subsystem's hooks with the runtime: process start builds the shared
// manager, thread start gives the thread a fresh status record, process end releases the
// manager.
void RegisterErrorHooks();
// Registers the thread-end hook that frees the thread's status record. It stands apart so that
// the program can place it among the other thread-end hooks (which run in reverse order of
// registration): after those that may still report while they close down, before those that
// destroy the thread's file records.
void RegisterErrorStatusHooks();

// The one error manager shared by every thread. Built on first use when the process-start
// hook has not run (so a report never finds it missing).
ErrorManager& GlobalErrors();

// The per-thread status records the shared manager works on.
rt::ThreadLocal<ErrorStatus>& GlobalErrorStatus();

// Starts the shared manager on the per-thread status records (program main does this once,
// before any report).
void StartGlobalErrors();
