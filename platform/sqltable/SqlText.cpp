// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sqltable/SqlText.h"

namespace rt {

namespace {

std::string Quoted(std::string_view text, char quote) {
  std::string out(1, quote);
  for (char c : text) {
    if (c == quote) out += quote;
    out += c;
  }
  return out + quote;
}

}  // namespace

std::string SqlIdentifier(std::string_view name) {
  return Quoted(name, '"');
}

std::string SqlLiteral(std::string_view text) {
  return Quoted(text, '\'');
}

std::string SqlColumnName(std::string_view label) {
  const auto colon = label.find(':');
  return SqlIdentifier(colon == std::string_view::npos ? label : label.substr(colon + 1));
}

}  // namespace rt
