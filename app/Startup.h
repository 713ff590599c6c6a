// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's start-up and shutdown: the table of start-up hooks and program main.

#include <cstdint>
#include <functional>

// "Settings File Unusable": the INI file cannot be read (a named pipe, a device or a folder
// in its place, no read permission); the program starts with default settings.
inline constexpr std::uint16_t kMsgSettingsFileUnusable = 1611;
// "Unknown Table Driver": the settings file's [Table] section names a driver the program does
// not have; the program keeps the table in its local file.
inline constexpr std::uint16_t kMsgUnknownTableDriver = 1612;

// Registers the hooks of every subsystem with the runtime, in the order they must run:
// process start builds the shared objects, thread start gives each thread its own state,
// thread end and process end release them in reverse order (the INI manager before the
// error manager).
void RegisterApplicationHooks();

// Program main, run on runtime thread 1: starts the error manager for the main thread,
// opens the INI manager on ".\PageletDemo.INI" (saying so when the file cannot be read, and
// going on with default settings), chooses the table's driver from its [Table] section
// (Driver=PGSTORE and Connection=<connection string> for a table on a server; STORE on the
// local file when the section is absent), builds thread 1's table managers, runs the
// main frame until it closes, then has the INI manager write its pending sections and close.
void ProgramMain();
// Program main with another procedure in place of the main frame.
void RunProgramMain(const std::function<void()>& frame);

// The program's whole run, as its entry makes it: the start-up hooks registered, SIGTERM and
// SIGINT (a logout, a shutdown, Ctrl+C) closing the program as File > Exit does, and `host`
// running the given program main on runtime thread 1 (on the desktop, or headless) and
// returning the exit code. Call it before any other thread starts: the signals are blocked
// for every thread and taken up by a watcher instead.
using ProgramHost = std::function<int(const std::function<void()>& programMain)>;
int RunApplication(const ProgramHost& host);
