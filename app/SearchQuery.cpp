// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SearchQuery.h"

#include <cctype>

namespace {

// Letters and digits of any script: every byte of a multi-byte UTF-8 character counts.
bool WordByte(unsigned char c) {
  return c >= 0x80 || std::isalnum(c) != 0;
}

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

std::vector<std::string> SearchQuery::Words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (WordByte(static_cast<unsigned char>(c))) {
      word += c;
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

bool SearchQuery::Parse(std::string_view input, std::vector<rt::TextTerm>& terms,
                        std::string& message) {
  terms.clear();
  message.clear();
  std::size_t i = 0;
  while (i < input.size()) {
    if (Blank(input[i])) {
      ++i;
      continue;
    }
    std::string_view text;
    if (input[i] == '"') {
      const std::size_t close = input.find('"', i + 1);
      if (close == std::string_view::npos) {
        message =
            "A phrase is not closed: a closing double quote (\") is missing. Put a phrase "
            "between two double quotes, or leave the quotes out to search for the words.";
        terms.clear();
        return false;
      }
      text = input.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      const std::size_t start = i;
      while (i < input.size() && !Blank(input[i]) && input[i] != '"')
        ++i;
      text = input.substr(start, i - start);
    }
    rt::TextTerm term;
    term.words = Words(text);
    // A star right after a word or a phrase asks for words beginning so.
    const bool starInside = !text.empty() && text.back() == '*';
    const bool starAfter = i < input.size() && input[i] == '*';
    term.prefix = starInside || starAfter;
    while (i < input.size() && input[i] == '*')
      ++i;
    if (term.words.empty()) continue;  // only punctuation: nothing the index holds
    terms.push_back(std::move(term));
  }
  if (terms.empty()) {
    message =
        "There is nothing to search for: type one or more words (letters or digits), a "
        "\"phrase in quotes\" or the beginning of a word followed by *.";
    return false;
  }
  if (terms.size() > kMaxTerms) {
    message = "The query has too many words: use at most " + std::to_string(kMaxTerms) + ".";
    terms.clear();
    return false;
  }
  return true;
}
