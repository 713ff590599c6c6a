#pragma once
// The program's start-up and shutdown: the table of start-up hooks and program main.

// Registers the hooks of every subsystem with the runtime, in the order they must run:
// process start builds the shared objects, thread start gives each thread its own state,
// thread end and process end release them in reverse order.
void RegisterApplicationHooks();

// Program main, run on runtime thread 1: starts the error manager for the main thread, runs
// the main frame until it closes.
void ProgramMain();
