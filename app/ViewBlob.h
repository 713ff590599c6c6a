#pragma once
// The document viewer window, run on the caller's thread until it closes.

#include <cstdint>

namespace rt {
class File;
}

// Shows the current record's BLOB `blob` of `table` until the window closes.
void ViewBlob(rt::File& table, std::int16_t blob);
