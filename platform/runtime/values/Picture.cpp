// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/values/Picture.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/runtime/values/Decimal.h"
#include "platform/runtime/values/RecordLayout.h"
#include "platform/runtime/values/Text.h"

namespace rt {

namespace {

constexpr int kMaxWidth = 4096;
constexpr std::int32_t kTimeLimit = 24 * 60 * 60 * 100;  // centiseconds in a day

const char* const kMonthNames[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};

// Date formats 1..18; "/" and "-" are separators a picture may replace.
const char* const kDateFormats[18] = {
    "mm/dd/yy",  "mm/dd/yyyy",  "mmm dd, yyyy", "mmmm d, yyyy", "dd/mm/yy",   "dd/mm/yyyy",
    "dd mmm yy", "dd mmm yyyy", "yy/mm/dd",     "yyyy/mm/dd",   "yymmdd",     "yyyymmdd",
    "mm/yy",     "mm/yyyy",     "yy/mm",        "yyyy/mm",      "yyyy-mm-dd", "d mmmm yyyy"};

// Time formats 1..8; ":" is the separator a picture may replace.
const char* const kTimeFormats[8] = {"hh:mm",  "hhmm",       "hh:mmXM", "hh:mm:ss",
                                     "hhmmss", "hh:mm:ssXM", "hh:mm",   "hh:mm:ss"};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

std::string TwoDigits(int v) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02d", v % 100);
  return buffer;
}

std::string Hashes(int width) {
  return std::string(width > 0 ? width : 1, '#');
}

// Reads digits at s[i..], at most maxDigits of them, into value; false when none.
bool ReadNumber(std::string_view s, std::size_t& i, int& value, std::size_t maxDigits = 4) {
  std::size_t n = 0;
  value = 0;
  while (i < s.size() && IsDigit(s[i]) && n < maxDigits) {
    value = value * 10 + (s[i++] - '0');
    ++n;
  }
  return n > 0;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

const std::int64_t kDayZero = DaysFromCivil(1800, 12, 28);
const std::int32_t kLastDay = static_cast<std::int32_t>(DaysFromCivil(9999, 12, 31) - kDayZero);

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// The integer value of plain value text for dates and times: nullopt when not a number,
// 0 for blank text.
std::optional<std::int64_t> IntegerValue(std::string_view value) {
  value = Trim(value, kWhitespace);
  if (value.empty()) return 0;
  const auto d = Decimal::Parse(value);
  if (!d) return std::nullopt;
  return d->ToInteger();
}

// --- Numbers --------------------------------------------------------------------------

// The digits with a comma between each group of three, into `out`.
void Group(std::string_view digits, std::string& out) {
  out.clear();
  const std::size_t n = digits.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += ',';
    out += digits[i];
  }
}

// The sign and digits of a plain integer text ("-" and up to 18 digits), which needs no
// decimal arithmetic; false for anything else.
bool PlainInteger(std::string_view value, bool& negative, std::string& digits) {
  negative = !value.empty() && value.front() == '-';
  if (negative) value.remove_prefix(1);
  if (value.empty() || value.size() > 18) return false;
  for (char c : value) {
    if (!IsDigit(c)) return false;
  }
  const std::size_t first = std::min(value.find_first_not_of('0'), value.size() - 1);
  digits.assign(value.substr(first));
  if (digits == "0") negative = false;
  return true;
}

// A number's sign, integer digits and fraction (with its point) laid out in the picture's
// width, into `out`, sized once and written in place: a list formats a number per cell.
void LayOutNumber(const Picture& p, bool negative, std::string_view digits,
                  std::string_view fraction, std::string& out) {
  std::string grouped;
  if (p.grouping) {
    Group(digits, grouped);
    digits = grouped;
  }
  std::string_view prefix;
  std::string_view suffix;
  switch (p.sign) {
    case SignStyle::Leading:
      prefix = negative ? "-" : "";
      break;
    case SignStyle::Trailing:
      suffix = negative ? "-" : " ";
      break;
    case SignStyle::Parentheses:
      prefix = negative ? "(" : "";
      suffix = negative ? ")" : " ";
      break;
  }
  const std::size_t length =
      prefix.size() + (p.currency ? 1 : 0) + digits.size() + fraction.size() + suffix.size();
  if (p.width > 0 && length > static_cast<std::size_t>(p.width)) {
    out.assign(static_cast<std::size_t>(p.width), '#');
    return;
  }
  const std::size_t pad = p.width > 0 ? p.width - length : 0;
  out.resize(length + pad);
  char* o = out.data();
  auto put = [&o](std::string_view part) {
    if (!part.empty()) std::memcpy(o, part.data(), part.size());
    o += part.size();
  };
  if (p.fill != '0') {
    std::memset(o, p.fill, pad);
    o += pad;
  }
  put(prefix);
  if (p.currency) *o++ = '$';
  if (p.fill == '0') {
    std::memset(o, '0', pad);
    o += pad;
  }
  put(digits);
  put(fraction);
  put(suffix);
}

std::string FormatNumber(const Picture& p, std::string_view value) {
  bool negative = false;
  std::string digits;
  std::string fraction;
  if (p.places == 0 && PlainInteger(value, negative, digits)) {
    if (p.blankWhenZero && digits == "0") return std::string(p.width, ' ');
  } else {
    std::optional<Decimal> parsed =
        Trim(value, kWhitespace).empty() ? Decimal() : Decimal::Parse(value);
    if (!parsed) return Hashes(p.width);
    const Decimal d = parsed->Rescale(p.places);
    if (!d.Valid()) return Hashes(p.width);
    if (p.blankWhenZero && d.IsZero()) return std::string(p.width, ' ');
    negative = d.IsNegative();
    std::string text = d.Abs().ToText();
    digits = text.substr(0, text.find('.'));
    if (p.places > 0) fraction = text.substr(text.find('.'));
  }
  std::string out;
  LayOutNumber(p, negative, digits, fraction, out);
  return out;
}

bool DeformatNumber(const Picture& p, std::string_view text, std::string& value) {
  text = Trim(text, kWhitespace);
  if (text.empty()) {
    value.clear();
    return true;
  }
  // Phases: 0 before the digits, 1 in them, 2 after them.
  int phase = 0;
  int signs = 0;
  bool negative = false;
  bool openParen = false;
  bool closedParen = false;
  bool currency = false;
  bool point = false;
  std::string number;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c) || (c == '.' && phase < 2)) {
      if (phase == 2 || closedParen) return false;
      if (c == '.') {
        if (point) return false;
        point = true;
      }
      phase = 1;
      number += c;
    } else if (c == ',') {
      // A grouping comma sits in the integer part and is followed by exactly three digits,
      // so that "1,5" is not taken for fifteen.
      if (phase != 1 || point || i + 3 >= text.size() || !IsDigit(text[i + 1]) ||
          !IsDigit(text[i + 2]) || !IsDigit(text[i + 3]) ||
          (i + 4 < text.size() && IsDigit(text[i + 4]))) {
        return false;
      }
    } else if (c == '-' || c == '+') {
      if (++signs > 1 || openParen) return false;
      negative = c == '-';
      if (phase == 1) phase = 2;
    } else if (c == '(') {
      if (phase != 0 || ++signs > 1) return false;
      openParen = true;
      negative = true;
    } else if (c == ')') {
      if (!openParen || closedParen || phase == 0) return false;
      closedParen = true;
      phase = 2;
    } else if (c == '$') {
      if (phase != 0 || currency) return false;
      currency = true;
    } else if (c == '*') {
      if (phase != 0) return false;
    } else if (c == ' ') {
      if (phase == 1) phase = 2;
    } else {
      return false;
    }
  }
  if (openParen != closedParen) return false;
  if (number.empty() || number == ".") return false;
  auto parsed = Decimal::Parse(number);
  if (!parsed) return false;
  Decimal d = parsed->Round(p.places);
  if (negative) d = d.Negated();
  if (!d.Valid()) return false;
  value = d.ToPlainText();
  return true;
}

std::string FormatScientific(const Picture& p, std::string_view value) {
  value = Trim(value, kWhitespace);
  double v = 0.0;
  if (!value.empty()) {
    const std::string s(value);
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || !std::isfinite(v)) return Hashes(p.width);
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*e", p.places, v);
  const std::string text = buffer;
  if (p.width == 0) return text;
  if (text.size() > static_cast<std::size_t>(p.width)) return Hashes(p.width);
  return std::string(p.width - text.size(), ' ') + text;
}

bool DeformatScientific(std::string_view text, std::string& value) {
  text = Trim(text, kWhitespace);
  if (text.empty()) {
    value.clear();
    return true;
  }
  const std::string s(text);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return false;
  const auto exact = Decimal::Parse(s);
  value = exact ? exact->ToPlainText() : RealText(v);
  return true;
}

// --- Dates and times --------------------------------------------------------------------

// Formats a date or time pattern. Pattern letters: mmmm, mmm, mm (month), dd, d (day),
// yyyy, yy (year), hh, mm after hh (minutes), ss, XM; '/', '-' and ':' are separators.
struct CalendarParts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

std::string Expand(std::string_view pattern, const CalendarParts& c, char separator, bool time) {
  const bool twelveHour = pattern.find("XM") != std::string_view::npos;
  std::string out;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const std::string_view rest = pattern.substr(i);
    if (time && StartsWith(rest, "hh")) {
      int h = c.hour;
      if (twelveHour) h = h % 12 == 0 ? 12 : h % 12;
      out += TwoDigits(h);
      i += 2;
    } else if (time && StartsWith(rest, "mm")) {
      out += TwoDigits(c.minute);
      i += 2;
    } else if (time && StartsWith(rest, "ss")) {
      out += TwoDigits(c.second);
      i += 2;
    } else if (time && StartsWith(rest, "XM")) {
      out += c.hour < 12 ? "AM" : "PM";
      i += 2;
    } else if (StartsWith(rest, "mmmm")) {
      out += kMonthNames[c.month - 1];
      i += 4;
    } else if (StartsWith(rest, "mmm")) {
      out += std::string_view(kMonthNames[c.month - 1]).substr(0, 3);
      i += 3;
    } else if (StartsWith(rest, "mm")) {
      out += TwoDigits(c.month);
      i += 2;
    } else if (StartsWith(rest, "dd")) {
      out += TwoDigits(c.day);
      i += 2;
    } else if (StartsWith(rest, "d")) {
      out += std::to_string(c.day);
      i += 1;
    } else if (StartsWith(rest, "yyyy")) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "%04d", c.year);
      out += buffer;
      i += 4;
    } else if (StartsWith(rest, "yy")) {
      out += TwoDigits(c.year);
      i += 2;
    } else {
      const char ch = pattern[i++];
      const bool isSeparator = time ? ch == ':' : (ch == '/' || ch == '-');
      out += isSeparator && separator != 0 ? separator : ch;
    }
  }
  return out;
}

std::string FormatDate(const Picture& p, std::string_view value) {
  const char* pattern = kDateFormats[p.format - 1];
  const auto v = IntegerValue(value);
  if (v && *v == 0) return {};
  CalendarParts c;
  if (!v || *v < 1 || *v > kLastDay ||
      !DateParts(static_cast<std::int32_t>(*v), c.year, c.month, c.day)) {
    return Hashes(static_cast<int>(std::string_view(pattern).size()));
  }
  return Expand(pattern, c, p.separator, false);
}

std::string FormatTime(const Picture& p, std::string_view value) {
  const char* pattern = kTimeFormats[p.format - 1];
  const auto v = IntegerValue(value);
  if (v && *v == 0) return {};
  if (!v || *v < 1 || *v > kTimeLimit) {
    return Hashes(static_cast<int>(std::string_view(pattern).size()));
  }
  const std::int64_t t = (*v - 1) / 100;
  CalendarParts c;
  c.hour = static_cast<int>(t / 3600);
  c.minute = static_cast<int>(t / 60 % 60);
  c.second = static_cast<int>(t % 60);
  return Expand(pattern, c, p.separator, true);
}

struct Token {
  bool word = false;
  std::string text;
};

// Splits typed text into digit runs and letter runs; everything else separates them.
std::vector<Token> Tokenize(std::string_view text, bool& onlySeparators) {
  std::vector<Token> tokens;
  onlySeparators = true;
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (IsDigit(c)) {
      Token t;
      while (i < text.size() && IsDigit(text[i]))
        t.text += text[i++];
      tokens.push_back(std::move(t));
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      Token t{true, {}};
      while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) {
        t.text += LowerChar(text[i++]);
      }
      tokens.push_back(std::move(t));
    } else {
      if (c != ' ' && c != '/' && c != '.' && c != '-' && c != ',' && c != ':' && c != '\t') {
        onlySeparators = false;
      }
      ++i;
    }
  }
  return tokens;
}

int MonthFromName(std::string_view word) {
  if (word.size() < 3) return 0;
  for (int m = 0; m < 12; ++m) {
    std::string name;
    for (const char* n = kMonthNames[m]; *n != 0; ++n)
      name += LowerChar(*n);
    if (word.size() <= name.size() && StartsWith(name, word)) return m + 1;
  }
  return 0;
}

int YearFromDigits(std::string_view digits) {
  const int y = std::atoi(std::string(digits).c_str());
  if (digits.size() <= 2) return y < 50 ? 2000 + y : 1900 + y;
  return y;
}

bool DeformatDate(const Picture& p, std::string_view text, std::string& value) {
  text = Trim(text, kWhitespace);
  if (text.empty()) {
    value.clear();
    return true;
  }
  const std::string_view pattern = kDateFormats[p.format - 1];
  // The parts of the format in order: 'M', 'D', 'Y', with their digit widths.
  std::vector<char> parts;
  std::vector<int> widths;
  for (std::size_t i = 0; i < pattern.size();) {
    const std::string_view rest = pattern.substr(i);
    int n = 0;
    while (n < static_cast<int>(rest.size()) && rest[n] == rest[0])
      ++n;
    if (rest[0] == 'm' || rest[0] == 'd' || rest[0] == 'y') {
      parts.push_back(UpperChar(rest[0]));
      widths.push_back(rest[0] == 'd' ? 2 : (rest[0] == 'm' ? 2 : n));
      i += n;
    } else {
      ++i;
    }
  }

  bool onlySeparators = true;
  std::vector<Token> tokens = Tokenize(text, onlySeparators);
  if (!onlySeparators) return false;

  // Digits only: split them by the widths of the parts (a year may be 2 or 4 digits).
  if (tokens.size() == 1 && !tokens[0].word && parts.size() > 1) {
    const std::string digits = tokens[0].text;
    int total = 0;
    for (int w : widths)
      total += w;
    int yearWidth = 0;
    for (std::size_t k = 0; k < parts.size(); ++k) {
      if (parts[k] == 'Y') yearWidth = widths[k];
    }
    const int length = static_cast<int>(digits.size());
    int newYearWidth = yearWidth;
    if (length == total - yearWidth + 2) {
      newYearWidth = 2;
    } else if (length == total - yearWidth + 4) {
      newYearWidth = 4;
    } else {
      return false;
    }
    tokens.clear();
    std::size_t at = 0;
    for (std::size_t k = 0; k < parts.size(); ++k) {
      const int w = parts[k] == 'Y' ? newYearWidth : widths[k];
      tokens.push_back(Token{false, digits.substr(at, w)});
      at += w;
    }
  }
  if (tokens.size() != parts.size()) return false;

  int year = 0;
  int month = 0;
  int day = 1;
  // A month name may stand anywhere; the numbers then fill the other parts in order.
  std::vector<const Token*> numbers;
  for (const Token& t : tokens) {
    if (t.word) {
      const int m = MonthFromName(t.text);
      if (m == 0 || month != 0) return false;
      month = m;
    } else {
      if (t.text.size() > 4) return false;
      numbers.push_back(&t);
    }
  }
  std::size_t next = 0;
  for (char part : parts) {
    if (part == 'M' && month != 0 && numbers.size() < parts.size()) continue;
    if (next >= numbers.size()) return false;
    const std::string& digits = numbers[next++]->text;
    if (part == 'Y') {
      year = YearFromDigits(digits);
    } else if (part == 'M') {
      month = std::atoi(digits.c_str());
    } else {
      day = std::atoi(digits.c_str());
    }
  }
  const std::int32_t v = DateValue(year, month, day);
  if (v == 0) return false;
  value = std::to_string(v);
  return true;
}

bool DeformatTime(std::string_view text, std::string& value) {
  text = Trim(text, kWhitespace);
  if (text.empty()) {
    value.clear();
    return true;
  }
  bool onlySeparators = true;
  std::vector<Token> tokens = Tokenize(text, onlySeparators);
  if (!onlySeparators) return false;
  int half = 0;  // 1 am, 2 pm
  std::vector<std::string> numbers;
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    if (t.word) {
      if (half != 0 || k + 1 != tokens.size()) return false;
      if (t.text == "am" || t.text == "a") {
        half = 1;
      } else if (t.text == "pm" || t.text == "p") {
        half = 2;
      } else {
        return false;
      }
    } else {
      numbers.push_back(t.text);
    }
  }
  // Digits only: h, hh, hmm, hhmm, hmmss or hhmmss.
  if (numbers.size() == 1 && numbers[0].size() > 2) {
    const std::string d = numbers[0];
    if (d.size() > 6) return false;
    numbers.clear();
    const std::size_t hourDigits = d.size() % 2 == 1 ? 1 : 2;
    numbers.push_back(d.substr(0, hourDigits));
    for (std::size_t at = hourDigits; at < d.size(); at += 2)
      numbers.push_back(d.substr(at, 2));
  }
  if (numbers.empty() || numbers.size() > 4) return false;
  int part[4] = {0, 0, 0, 0};
  for (std::size_t k = 0; k < numbers.size(); ++k) {
    const std::string& n = numbers[k];
    if (n.size() > 2) return false;
    part[k] = std::atoi(n.c_str());
    if (k == 3 && n.size() == 1) part[k] *= 10;  // ".5" of a second is 50 hundredths
  }
  int hour = part[0];
  if (half != 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (half == 2 ? 12 : 0);
  }
  const std::int32_t v = TimeValue(hour, part[1], part[2], part[3]);
  if (v == 0) return false;
  value = std::to_string(v);
  return true;
}

// --- Picture text -------------------------------------------------------------------------

Picture ParseNumber(std::string_view s) {
  Picture p;
  p.kind = PictureKind::Number;
  std::size_t i = 0;
  bool paren = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '$') {
      p.currency = true;
    } else if (c == '-') {
      p.sign = SignStyle::Leading;
    } else if (c == '(') {
      p.sign = SignStyle::Parentheses;
      paren = true;
    } else if (c == ',') {
      p.grouping = true;
    } else if (c == '_') {
      p.fill = ' ';
    } else if (c == '*') {
      p.fill = '*';
    } else if (c == '0' && i + 1 < s.size() && IsDigit(s[i + 1])) {
      p.fill = '0';
    } else {
      break;
    }
  }
  Picture invalid;
  invalid.kind = PictureKind::Invalid;
  if (i < s.size() && IsDigit(s[i]) && !ReadNumber(s, i, p.width, 5)) return invalid;
  if (i < s.size() && s[i] == '.') {
    ++i;
    if (!ReadNumber(s, i, p.places, 2)) return invalid;
  }
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '-' && !paren) {
      p.sign = SignStyle::Trailing;
    } else if (c == ')' && paren) {
      paren = false;
    } else if (c == 'b' || c == 'B') {
      p.blankWhenZero = true;
    } else {
      return invalid;
    }
  }
  if (p.width > kMaxWidth || p.places > Decimal::kMaxPlaces) return invalid;
  return p;
}

}  // namespace

Picture Picture::Parse(std::string_view picture) {
  std::string_view s = Trim(picture, kWhitespace);
  if (!s.empty() && s.front() == '@') s.remove_prefix(1);
  if (!s.empty() && s.back() == '@') s.remove_suffix(1);
  Picture p;
  if (s.empty()) return p;
  Picture invalid;
  invalid.kind = PictureKind::Invalid;
  const char letter = LowerChar(s.front());
  std::string_view rest = s.substr(1);
  std::size_t i = 0;
  switch (letter) {
    case 'n':
      return ParseNumber(rest);
    case 'e':
      p.kind = PictureKind::Scientific;
      ReadNumber(rest, i, p.width, 5);
      if (i < rest.size() && rest[i] == '.') {
        ++i;
        if (!ReadNumber(rest, i, p.places, 2)) return invalid;
      }
      if (i != rest.size() || p.width > kMaxWidth || p.places > 30) return invalid;
      return p;
    case 's':
      p.kind = PictureKind::String;
      ReadNumber(rest, i, p.width, 5);
      if (i != rest.size() || p.width > 65535) return invalid;
      return p;
    case 'd':
    case 't': {
      const bool date = letter == 'd';
      p.kind = date ? PictureKind::Date : PictureKind::Time;
      if (!ReadNumber(rest, i, p.format, 2)) return invalid;
      if (p.format < 1 || p.format > (date ? 18 : 8)) return invalid;
      if (i < rest.size()) {
        const char c = rest[i++];
        if (std::string_view("./-:,_").find(c) == std::string_view::npos) return invalid;
        p.separator = c == '_' ? ' ' : c;
      }
      if (i != rest.size()) return invalid;
      return p;
    }
    default:
      return invalid;
  }
}

char Picture::KindLetter() const {
  switch (kind) {
    case PictureKind::Number:
      return 'N';
    case PictureKind::Scientific:
      return 'E';
    case PictureKind::String:
      return 'S';
    case PictureKind::Date:
      return 'D';
    case PictureKind::Time:
      return 'T';
    default:
      return 0;
  }
}

void Picture::FormatInteger(std::int64_t value, std::string& out) const {
  if (kind != PictureKind::Number || places != 0) {
    out = Format(std::to_string(value));
    return;
  }
  if (blankWhenZero && value == 0) {
    out.assign(static_cast<std::size_t>(width), ' ');
    return;
  }
  // The magnitude as unsigned, so that the lowest value has one too.
  const std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  LayOutNumber(*this, value < 0, std::string_view(digits, end - digits), {}, out);
}

std::string Picture::Format(std::string_view value) const {
  switch (kind) {
    case PictureKind::Number:
      return FormatNumber(*this, value);
    case PictureKind::Scientific:
      return FormatScientific(*this, value);
    case PictureKind::String: {
      if (width == 0) return std::string(value);
      std::string out(value.substr(0, width));
      out.resize(width, ' ');
      return out;
    }
    case PictureKind::Date:
      return FormatDate(*this, value);
    case PictureKind::Time:
      return FormatTime(*this, value);
    case PictureKind::None:
    case PictureKind::Invalid:
      break;
  }
  return std::string(value);
}

bool Picture::Deformat(std::string_view text, std::string& value) const {
  switch (kind) {
    case PictureKind::Number:
      return DeformatNumber(*this, text, value);
    case PictureKind::Scientific:
      return DeformatScientific(text, value);
    case PictureKind::String: {
      const std::size_t end = text.find_last_not_of(' ');
      value = end == std::string_view::npos ? std::string() : std::string(text.substr(0, end + 1));
      return true;
    }
    case PictureKind::Date:
      return DeformatDate(*this, text, value);
    case PictureKind::Time:
      return DeformatTime(text, value);
    case PictureKind::None:
    case PictureKind::Invalid:
      break;
  }
  value = std::string(text);
  return true;
}

std::string FormatPicture(std::string_view value, std::string_view picture) {
  return Picture::Parse(picture).Format(value);
}

std::string DeformatPicture(std::string_view text, std::string_view picture) {
  return TryDeformatPicture(text, picture).value_or(std::string());
}

std::optional<std::string> TryDeformatPicture(std::string_view text, std::string_view picture) {
  std::string value;
  if (!Picture::Parse(picture).Deformat(text, value)) return std::nullopt;
  return value;
}

std::int32_t DateValue(int year, int month, int day) {
  if (year < 1800 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return 0;
  }
  const std::int64_t v = DaysFromCivil(year, month, day) - kDayZero;
  return v >= 1 ? static_cast<std::int32_t>(v) : 0;
}

bool DateParts(std::int32_t value, int& year, int& month, int& day) {
  if (value < 1 || value > kLastDay) return false;
  CivilFromDays(kDayZero + value, year, month, day);
  return true;
}

std::int32_t TimeValue(int hours, int minutes, int seconds, int centiseconds) {
  if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59 ||
      centiseconds < 0 || centiseconds > 99) {
    return 0;
  }
  return ((hours * 60 + minutes) * 60 + seconds) * 100 + centiseconds + 1;
}

std::int32_t Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return DateValue(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

std::int32_t Clock() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto centis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000 /
      10;
  return TimeValue(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59),
                   static_cast<int>(centis));
}

}  // namespace rt
