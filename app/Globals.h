// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application's global objects: the process's INI manager, and the thread-instanced
// globals (each thread has its own copy, set to 0 when the thread starts).

#include <cstdint>

class IniManager;

// The settings file in the working directory.
inline constexpr char kIniFileName[] = ".\\PageletDemo.INI";

// The one INI manager shared by every thread. Built by the process-start hook (or on first
// use before it), destroyed by the process-end hook.
IniManager& IniMgr();
// Registers the INI manager's process hooks. Register them after the error manager's: the
// process-end hooks run in reverse, so the INI manager goes first.
void RegisterIniManagerHooks();

// The request a procedure is started with (InsertRecord, ChangeRecord, ...).
std::uint8_t& GlobalRequest();
// The response the last procedure returned (RequestCompleted, RequestCancelled).
std::uint8_t& GlobalResponse();
// The pending record-navigation request of the toolbar.
std::int32_t& VCRRequest();

// Sets the calling thread's three globals to 0.
void ClearThreadGlobals();
