// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/expressions/ViewOrder.h"

#include <cctype>

#include "platform/runtime/values/Text.h"

namespace rt {

namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  void SkipBlanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_])))
      ++pos_;
  }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  bool Take(char c) {
    SkipBlanks();
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  // A label or function name: letters, digits, "_" and ":".
  std::string_view Name() {
    SkipBlanks();
    const std::size_t start = pos_;
    while (!AtEnd()) {
      const char c = text_[pos_];
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != ':') break;
      ++pos_;
    }
    return text_.substr(start, pos_ - start);
  }
  std::size_t Column() const { return pos_ + 1; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

bool ViewOrder::Parse(std::string_view text, const RecordLayout& layout,
                      std::vector<ViewOrderComponent>& components, std::string& error) {
  components.clear();
  error.clear();
  Scanner s(text);
  s.SkipBlanks();
  if (s.AtEnd()) return true;
  auto fail = [&](const std::string& what) {
    error = what + " at column " + std::to_string(s.Column()) + " of the order \"" +
            std::string(text) + "\"";
    components.clear();
    return false;
  };
  while (true) {
    ViewOrderComponent c;
    if (s.Take('-')) {
      c.ascending = false;
    } else {
      s.Take('+');
    }
    std::string_view name = s.Name();
    if (name.empty()) return fail("A field label is missing");
    const bool upper = SameName(name, "UPPER");
    const bool lower = SameName(name, "LOWER");
    if ((upper || lower) && s.Take('(')) {
      c.fold = upper ? CaseFold::Upper : CaseFold::Lower;
      name = s.Name();
      if (name.empty()) return fail("A field label is missing");
      if (!s.Take(')')) return fail("\")\" is missing");
    }
    c.field = layout.FindField(name);
    if (c.field == 0) return fail("Unknown field " + std::string(name));
    components.push_back(c);
    s.SkipBlanks();
    if (s.AtEnd()) return true;
    if (!s.Take(',')) return fail("\",\" expected");
  }
}

}  // namespace rt
