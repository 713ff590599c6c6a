#pragma once
// The application's thread-instanced globals: each thread has its own copy, set to 0 when
// the thread starts.

#include <cstdint>

// The request a procedure is started with (InsertRecord, ChangeRecord, ...).
std::uint8_t& GlobalRequest();
// The response the last procedure returned (RequestCompleted, RequestCancelled).
std::uint8_t& GlobalResponse();
// The pending record-navigation request of the toolbar.
std::int32_t& VCRRequest();

// Sets the calling thread's three globals to 0.
void ClearThreadGlobals();
