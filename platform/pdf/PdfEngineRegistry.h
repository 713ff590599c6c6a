// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Process-wide lookup of live engines by id. A control hands its engine's id (for example as
// the decimal start argument of another thread) instead of an address: an id that names no
// live engine, or text that is not an id at all, simply finds nothing.

#include <memory>
#include <string_view>

namespace rt {

class PdfEngine;

class PdfEngineRegistry {
 public:
  // Registers an engine; returns its id (1, 2, ...; never reused within the process).
  static int Add(std::weak_ptr<PdfEngine> engine);
  static void Remove(int id);
  // The engine with that id while it is alive, else null.
  static std::shared_ptr<PdfEngine> Find(int id);
  // The same, from the id's decimal text; anything but a plain positive number finds nothing.
  static std::shared_ptr<PdfEngine> Find(std::string_view decimalId);
};

}  // namespace rt
