// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Display pictures: how a value is shown in lists, entries, filters and the error log, and
// how text typed by the user is read back. Values are passed as plain text: numbers in
// plain decimal form ("-12.5"), dates as their day count, times as their time value,
// strings as they are.
//
// A picture is a kind letter (either case) and its options; a leading (and trailing) "@"
// is ignored. An empty picture shows values unchanged; an unreadable one does the same.
//
// Numbers  n[flags][0]width[.places][suffix]
//   flags (any order): "$" currency sign before the digits, "-" minus before the number
//   (the default), "(" negatives in parentheses, "," thousands grouping, "_" blank fill
//   (the default), "*" asterisk fill; a "0" right before the width fills with zeros.
//   width is the whole field (signs, "$", separators and point included), right-aligned;
//   no width means as wide as needed. places are the fraction digits; the value is rounded
//   half away from zero. suffix: "-" minus after the number, ")" closes "(", "b" shows
//   zero as blanks. Negatives always show a sign. A value that does not fit shows as a
//   run of '#' the width of the field.
//   Examples: -42 in "n-14" -> "           -42"; 12.5 in "n10.2" -> "     12.50";
//   1234.5 in "n$,12.2" -> "   $1,234.50"; 42 in "n010" -> "0000000042";
//   -12.5 in "n(10.2)" -> "   (12.50)" and in "n8.2-" -> "  12.50-".
// Scientific  e[width][.places]: "e12.3" -> "   1.235e+03".
// Strings  s[width]: the text padded with blanks or cut to width ("s80", "s255").
// Dates  d<n>[sep]: the value is a day count, day 4 being 1 January 1801 (so day 1 is
//   29 December 1800). 0 shows as empty. sep replaces the format's "/" or "-" by one of
//   "." "-" "/" ":" "," or "_" (a blank).
//     d1  mm/dd/yy        d7  dd mmm yy        d13 mm/yy
//     d2  mm/dd/yyyy      d8  dd mmm yyyy      d14 mm/yyyy
//     d3  mmm dd, yyyy    d9  yy/mm/dd         d15 yy/mm
//     d4  mmmm d, yyyy    d10 yyyy/mm/dd       d16 yyyy/mm
//     d5  dd/mm/yy        d11 yymmdd           d17 yyyy-mm-dd (the short date)
//     d6  dd/mm/yyyy      d12 yyyymmdd         d18 d mmmm yyyy (the long date)
//   mmm is "Jan", mmmm "January". Two-digit years read as 2000-2049 and 1950-1999.
// Times  t<n>[sep]: the value is centiseconds since midnight plus one (1 is 00:00:00.00);
//   0 shows as empty. sep replaces ":" like a date separator.
//     t1 hh:mm    t3 hh:mmXM (12-hour, "05:30PM")    t5 hhmmss       t7 hh:mm (short)
//     t2 hhmm     t4 hh:mm:ss                         t6 hh:mm:ssXM   t8 hh:mm:ss (long)
//   Displays drop what the format does not show (seconds, centiseconds).
//
// Reading back (Deformat) accepts what Format produces and what a user types: blanks,
// grouping commas, "$", a sign before or after the number or parentheses; dates with any
// of "/ . - ," or blanks between the parts, month names or their first three letters,
// two- or four-digit years, or digits only ("01152024"); times as "h", "h:mm", "hh:mm:ss",
// "hh:mm:ss.cc", digits only ("1730") and "am"/"pm". Numbers come back rounded to the
// picture's places in plain form; blank text comes back empty. Text that cannot be read
// fails: Deformat returns false and DeformatPicture returns "".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rt {

enum class PictureKind : std::uint8_t { None, Number, Scientific, String, Date, Time, Invalid };
enum class SignStyle : std::uint8_t { Leading, Trailing, Parentheses };

struct Picture {
  PictureKind kind = PictureKind::None;
  int width = 0;  // 0: as wide as needed
  int places = 0;
  bool currency = false;
  SignStyle sign = SignStyle::Leading;
  bool grouping = false;
  char fill = ' ';  // ' ', '0' or '*'
  bool blankWhenZero = false;
  int format = 0;      // date or time format number
  char separator = 0;  // date or time separator in place of the format's own; 0 keeps it

  static Picture Parse(std::string_view picture);
  // The upper-case kind letter ('N', 'E', 'S', 'D', 'T'), or 0 for none or invalid.
  char KindLetter() const;

  std::string Format(std::string_view value) const;
  // An integer through the picture into `out`, as Format gives its text, without going
  // through text on the way when the picture is a number without decimal places.
  void FormatInteger(std::int64_t value, std::string& out) const;
  // Reads displayed or typed text into a plain value; false (value untouched) when the
  // text cannot be read through this picture.
  bool Deformat(std::string_view text, std::string& value) const;
};

std::string FormatPicture(std::string_view value, std::string_view picture);
// The plain value of the text, "" for blank or unreadable text.
std::string DeformatPicture(std::string_view text, std::string_view picture);
// The plain value, nullopt for unreadable text.
std::optional<std::string> TryDeformatPicture(std::string_view text, std::string_view picture);

// Day count of a calendar date, 0 when the date is not valid or before day 1.
std::int32_t DateValue(int year, int month, int day);
// Calendar date of a day count; false for counts below 1 or past 31 December 9999.
bool DateParts(std::int32_t value, int& year, int& month, int& day);
// Time value of a time of day, 0 when a part is out of range.
std::int32_t TimeValue(int hours, int minutes, int seconds = 0, int centiseconds = 0);
// Today's date and the current time of day on the local clock.
std::int32_t Today();
std::int32_t Clock();

}  // namespace rt
