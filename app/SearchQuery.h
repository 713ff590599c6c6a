// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the user typed in the search window, read as index terms: words, "a phrase" in double
// quotes, and word* (or "a phrase"*) for words beginning so. Every word is split where the
// index splits words (at anything but letters and digits), and nothing typed is ever handed
// to the index as query syntax. Input that says nothing searchable is refused with a message
// for the user.

#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/files/TextIndex.h"

class SearchQuery {
 public:
  // The most terms one query takes; more are refused.
  static constexpr std::size_t kMaxTerms = 32;

  // The terms of `input`; false with `message` set when there is nothing to search for or a
  // phrase is not closed.
  static bool Parse(std::string_view input, std::vector<rt::TextTerm>& terms, std::string& message);
  // The words of a term's text as the index splits them.
  static std::vector<std::string> Words(std::string_view text);
};
