// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Names and texts written into the SQL of the table drivers.

#include <string>
#include <string_view>

namespace rt {

// A name as a quoted identifier ("a""b").
std::string SqlIdentifier(std::string_view name);
// A text as a quoted literal ('it''s').
std::string SqlLiteral(std::string_view text);
// A field label's column name: the label without its prefix, quoted.
std::string SqlColumnName(std::string_view label);

}  // namespace rt
