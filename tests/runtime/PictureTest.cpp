// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/values/Picture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace rt {
namespace {

TEST(PictureTest, ParsesNumericOptions) {
  const Picture p = Picture::Parse("@N$-,012.2@");
  EXPECT_EQ(p.kind, PictureKind::Number);
  EXPECT_EQ(p.KindLetter(), 'N');
  EXPECT_TRUE(p.currency);
  EXPECT_TRUE(p.grouping);
  EXPECT_EQ(p.fill, '0');
  EXPECT_EQ(p.width, 12);
  EXPECT_EQ(p.places, 2);
  EXPECT_EQ(Picture::Parse("n10.2-").sign, SignStyle::Trailing);
  EXPECT_EQ(Picture::Parse("D17").format, 17);
  EXPECT_EQ(Picture::Parse("").kind, PictureKind::None);
  for (const char* bad : {"x10", "n10.", "n10.2q", "d19", "d0", "t9", "s8x", "n10)", "d6;"}) {
    EXPECT_EQ(Picture::Parse(bad).kind, PictureKind::Invalid) << bad;
  }
  // An unreadable picture shows the value unchanged instead of losing it.
  EXPECT_EQ(FormatPicture("abc", "x10"), "abc");
}

TEST(PictureTest, FormatsNumbers) {
  EXPECT_EQ(FormatPicture("-42", "n-14"), "           -42");
  EXPECT_EQ(FormatPicture("12.5", "n10.2"), "     12.50");
  EXPECT_EQ(FormatPicture("1234.5", "n$,12.2"), "   $1,234.50");
  EXPECT_EQ(FormatPicture("1234567", "n,10"), " 1,234,567");
  EXPECT_EQ(FormatPicture("42", "n010"), "0000000042");
  EXPECT_EQ(FormatPicture("-42", "n06"), "-00042");
  EXPECT_EQ(FormatPicture("42", "n_6"), "    42");
  EXPECT_EQ(FormatPicture("42", "n*6"), "****42");
  EXPECT_EQ(FormatPicture("-12.5", "n(10.2)"), "   (12.50)");
  EXPECT_EQ(FormatPicture("12.5", "n(10.2)"), "    12.50 ");
  EXPECT_EQ(FormatPicture("-12.5", "n8.2-"), "  12.50-");
  EXPECT_EQ(FormatPicture("0", "n8.2b"), "        ");
  EXPECT_EQ(FormatPicture("2.675", "n.2"), "2.68");
  EXPECT_EQ(FormatPicture("-0.001", "n6.2"), "  0.00");
  EXPECT_EQ(FormatPicture("", "n4"), "   0");
  // A picture without a sign flag still shows the sign of a negative value.
  EXPECT_EQ(FormatPicture("-5", "n4"), "  -5");
}

TEST(PictureTest, IntegersFormatAsTheSameValueWithAFraction) {
  // Plain integers take a shorter way than other numbers; both must show the same.
  const char* values[] = {"0",
                          "-0",
                          "007",
                          "-007",
                          "42",
                          "-1234567",
                          "999999999999999999",
                          "-999999999999999999",
                          "1000000000000000000"};
  const char* pictures[] = {"n-14", "n,12",  "n010", "n06", "n(8)",
                            "n8-",  "n$,16", "n4b",  "n3",  "n*9"};
  for (const char* value : values) {
    for (const char* picture : pictures) {
      EXPECT_EQ(FormatPicture(value, picture), FormatPicture(std::string(value) + ".0", picture))
          << value << " in " << picture;
    }
  }
  // A list formats integer fields straight from their value: the same text again, out to
  // the widest integers and for pictures with places or of another kind.
  const std::int64_t numbers[] = {
      0, 7, -7, 42, -1234567, 999999999999999999, INT64_MAX, INT64_MIN + 1};
  std::string out = "left over";
  for (std::int64_t n : numbers) {
    for (const char* picture : {"n-14", "n,12", "n010", "n06", "n(8)", "n8-", "n$,16", "n4b", "n3",
                                "n*9", "n,30", "n10.2", "d6", "s5"}) {
      Picture::Parse(picture).FormatInteger(n, out);
      EXPECT_EQ(out, FormatPicture(std::to_string(n), picture)) << n << " in " << picture;
    }
  }
}

TEST(PictureTest, NumbersThatDoNotFitShowHashes) {
  EXPECT_EQ(FormatPicture("123456", "n5"), "#####");
  EXPECT_EQ(FormatPicture("-1000", "n5.2"), "#####");
  EXPECT_EQ(FormatPicture("1", "n$(3)"), "$1 ");
  EXPECT_EQ(FormatPicture("-1", "n$(3)"), "###");
  EXPECT_EQ(FormatPicture("abc", "n5"), "#####");
  EXPECT_EQ(FormatPicture("1e40", "n5"), "#####");
}

TEST(PictureTest, DeformatsNumbersAsShownOrTyped) {
  EXPECT_EQ(DeformatPicture("   $1,234.50", "n$,12.2"), "1234.5");
  EXPECT_EQ(DeformatPicture("   (12.50)", "n(10.2)"), "-12.5");
  EXPECT_EQ(DeformatPicture("  12.50-", "n8.2-"), "-12.5");
  EXPECT_EQ(DeformatPicture("-12.5", "n8.2-"), "-12.5");
  EXPECT_EQ(DeformatPicture("12.5-", "n-10.2"), "-12.5");
  EXPECT_EQ(DeformatPicture("- 7", "n-10"), "-7");
  EXPECT_EQ(DeformatPicture("+7", "n-10"), "7");
  EXPECT_EQ(DeformatPicture("0000000042", "n010"), "42");
  EXPECT_EQ(DeformatPicture("****42", "n*6"), "42");
  EXPECT_EQ(DeformatPicture("-0", "n4"), "0");
  EXPECT_EQ(DeformatPicture("12.345", "n10.2"), "12.35");
  EXPECT_EQ(DeformatPicture("   ", "n10.2"), "");
  EXPECT_EQ(DeformatPicture("2.5e3", "e12.3"), "2500");
}

TEST(PictureTest, RejectsNumbersThatCannotBeRead) {
  for (const char* bad : {"abc", "1-2", "--1", "(12", "12)", "1.2.3", "1,5", "12,34.5", ",123",
                          "1 2", "$", "-", "(12)-", "12$", "1e3"}) {
    EXPECT_FALSE(TryDeformatPicture(bad, "n-12.2").has_value()) << bad;
    EXPECT_EQ(DeformatPicture(bad, "n-12.2"), "") << bad;
  }
}

TEST(PictureTest, NumbersRoundTrip) {
  const char* pictures[] = {"n-14",    "n10.2",  "n$,14.2", "n010.3",
                            "n(12.2)", "n12.2-", "n*9.1",   "N-,20.4"};
  const char* values[] = {"0", "7", "-7", "12.5", "-1234.5", "999999.9", "0.1"};
  for (const char* picture : pictures) {
    const Picture p = Picture::Parse(picture);
    for (const char* value : values) {
      std::string shown = p.Format(value);
      if (shown.find('#') != std::string::npos) continue;
      std::string back;
      ASSERT_TRUE(p.Deformat(shown, back)) << picture << " " << value << " '" << shown << "'";
      EXPECT_EQ(p.Format(back), shown) << picture << " " << value;
      if (p.places >= 1) {
        EXPECT_EQ(back, value) << picture;
      }
    }
  }
}

TEST(PictureTest, StringsArePaddedOrCut) {
  EXPECT_EQ(FormatPicture("abc", "s5"), "abc  ");
  EXPECT_EQ(FormatPicture("abcdefg", "s5"), "abcde");
  EXPECT_EQ(FormatPicture("  a", "s"), "  a");
  EXPECT_EQ(DeformatPicture("abc  ", "s5"), "abc");
  EXPECT_EQ(DeformatPicture("  a b", "s80"), "  a b");
}

TEST(PictureTest, DateValuesCountFromTheEndOf1800) {
  EXPECT_EQ(DateValue(1801, 1, 1), 4);
  EXPECT_EQ(DateValue(1800, 12, 29), 1);
  EXPECT_EQ(DateValue(1800, 12, 28), 0);
  EXPECT_EQ(DateValue(2023, 2, 29), 0);
  EXPECT_GT(DateValue(2024, 2, 29), 0);
  int y = 0, m = 0, d = 0;
  ASSERT_TRUE(DateParts(DateValue(2000, 3, 1), y, m, d));
  EXPECT_EQ(y * 10000 + m * 100 + d, 20000301);
  EXPECT_FALSE(DateParts(0, y, m, d));
  EXPECT_EQ(DateValue(2024, 1, 15) - DateValue(2023, 1, 15), 365);
}

TEST(PictureTest, FormatsDatesInEveryForm) {
  const std::string v = std::to_string(DateValue(2024, 1, 5));
  const char* expected[18] = {"01/05/24",   "01/05/2024",    "Jan 05, 2024", "January 5, 2024",
                              "05/01/24",   "05/01/2024",    "05 Jan 24",    "05 Jan 2024",
                              "24/01/05",   "2024/01/05",    "240105",       "20240105",
                              "01/24",      "01/2024",       "24/01",        "2024/01",
                              "2024-01-05", "5 January 2024"};
  for (int f = 1; f <= 18; ++f) {
    EXPECT_EQ(FormatPicture(v, "d" + std::to_string(f)), expected[f - 1]) << f;
  }
  EXPECT_EQ(FormatPicture(v, "d6."), "05.01.2024");
  EXPECT_EQ(FormatPicture(v, "D17_"), "2024 01 05");
  EXPECT_EQ(FormatPicture("4", "d2"), "01/01/1801");
  EXPECT_EQ(FormatPicture("0", "d2"), "");
  EXPECT_EQ(FormatPicture("-3", "d2"), "##########");
  EXPECT_EQ(FormatPicture("99999999", "d17"), "##########");
}

TEST(PictureTest, DeformatsDatesAsShownOrTyped) {
  const std::string v = std::to_string(DateValue(2024, 1, 5));
  for (const char* typed : {"1/5/2024", "01-05-24", "1.5.24", "01052024", "010524", "Jan 5 2024",
                            "5 january 2024", " 01/05/2024 "}) {
    EXPECT_EQ(DeformatPicture(typed, "d2"), v) << typed;
  }
  EXPECT_EQ(DeformatPicture("5/1/2024", "d6"), v);
  EXPECT_EQ(DeformatPicture("2024-1-5", "d17"), v);
  EXPECT_EQ(DeformatPicture("20240105", "D17"), v);
  EXPECT_EQ(DeformatPicture("1/5/99", "d1"), std::to_string(DateValue(1999, 1, 5)));
  EXPECT_EQ(DeformatPicture("02/2024", "d14"), std::to_string(DateValue(2024, 2, 1)));
  EXPECT_EQ(DeformatPicture("", "d2"), "");
  for (const char* bad : {"2/30/2024", "13/1/2024", "1/5", "1/5/2024/7", "Foo 5 2024", "1;5;2024",
                          "Jan Feb 2024", "12/28/1800", "0105202"}) {
    EXPECT_FALSE(TryDeformatPicture(bad, "d2").has_value()) << bad;
  }
}

TEST(PictureTest, DatesRoundTripInEveryForm) {
  const int days[] = {4, DateValue(1999, 12, 31), DateValue(2024, 2, 29), DateValue(2049, 7, 1)};
  for (int f = 1; f <= 18; ++f) {
    const Picture p = Picture::Parse("d" + std::to_string(f));
    for (int day : days) {
      int y = 0, m = 0, d = 0;
      DateParts(day, y, m, d);
      const bool twoDigitYear =
          f == 1 || f == 5 || f == 7 || f == 9 || f == 11 || f == 13 || f == 15;
      if (twoDigitYear && y < 1950) continue;
      const bool monthOnly = f >= 13 && f <= 16;
      const int expected = monthOnly ? DateValue(y, m, 1) : day;
      std::string back;
      ASSERT_TRUE(p.Deformat(p.Format(std::to_string(day)), back)) << f << " " << day;
      EXPECT_EQ(back, std::to_string(expected)) << f << " " << p.Format(std::to_string(day));
    }
  }
}

TEST(PictureTest, FormatsAndDeformatsTimes) {
  const std::string t = std::to_string(TimeValue(17, 5, 9, 42));
  EXPECT_EQ(TimeValue(0, 0), 1);
  EXPECT_EQ(TimeValue(24, 0), 0);
  EXPECT_EQ(FormatPicture(t, "t1"), "17:05");
  EXPECT_EQ(FormatPicture(t, "t2"), "1705");
  EXPECT_EQ(FormatPicture(t, "t3"), "05:05PM");
  EXPECT_EQ(FormatPicture(t, "T8"), "17:05:09");
  EXPECT_EQ(FormatPicture(t, "t6"), "05:05:09PM");
  EXPECT_EQ(FormatPicture(t, "t4."), "17.05.09");
  EXPECT_EQ(FormatPicture("1", "t3"), "12:00AM");
  EXPECT_EQ(FormatPicture("0", "t8"), "");
  EXPECT_EQ(FormatPicture("8640002", "t8"), "########");

  const std::string whole = std::to_string(TimeValue(17, 5, 9));
  EXPECT_EQ(DeformatPicture("17:05:09", "t8"), whole);
  EXPECT_EQ(DeformatPicture("5:05:09 pm", "t8"), whole);
  EXPECT_EQ(DeformatPicture("170509", "t8"), whole);
  EXPECT_EQ(DeformatPicture("17:05:09.42", "t8"), t);
  EXPECT_EQ(DeformatPicture("930", "t1"), std::to_string(TimeValue(9, 30)));
  EXPECT_EQ(DeformatPicture("12am", "t1"), std::to_string(TimeValue(0, 0)));
  EXPECT_EQ(DeformatPicture("12:30PM", "t3"), std::to_string(TimeValue(12, 30)));
  EXPECT_EQ(DeformatPicture("7", "t1"), std::to_string(TimeValue(7, 0)));
  for (const char* bad : {"24:00", "12:60", "13pm", "1:2:3:4:5", "noon", "12:30 xm", "1234567"}) {
    EXPECT_FALSE(TryDeformatPicture(bad, "t8").has_value()) << bad;
  }
  for (int f = 1; f <= 8; ++f) {
    const Picture p = Picture::Parse("t" + std::to_string(f));
    const std::string minute = std::to_string(TimeValue(23, 59));
    EXPECT_EQ(DeformatPicture(p.Format(minute), "t" + std::to_string(f)), minute) << f;
  }
}

}  // namespace
}  // namespace rt
