// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Translates a single text (a menu entry, a button caption) into the user's language.

#include <string>
#include <string_view>

class TextTranslator {
 public:
  virtual ~TextTranslator() = default;
  virtual std::string TranslateText(std::string_view text) const = 0;
};
