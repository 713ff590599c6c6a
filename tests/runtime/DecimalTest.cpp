// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/values/Decimal.h"

#include <gtest/gtest.h>

namespace rt {
namespace {

Decimal D(const char* text) {
  auto d = Decimal::Parse(text);
  EXPECT_TRUE(d.has_value()) << text;
  return d.value_or(Decimal::Invalid());
}

TEST(DecimalTest, ParsesAndPrintsPlainText) {
  EXPECT_EQ(D("12").ToText(), "12");
  EXPECT_EQ(D(" -3.50 ").ToText(), "-3.50");
  EXPECT_EQ(D(".5").ToText(), "0.5");
  EXPECT_EQ(D("+0.05").ToText(), "0.05");
  EXPECT_EQ(D("1e3").ToText(), "1000");
  EXPECT_EQ(D("2.5E-2").ToText(), "0.025");
  EXPECT_EQ(D("-0.00").ToText(), "0.00");
  EXPECT_EQ(D("-12.500").ToPlainText(), "-12.5");
  EXPECT_EQ(D("9223372036854775807").ToText(), "9223372036854775807");
  // Fraction digits beyond what fits are rounded, not refused.
  EXPECT_EQ(D("0.12345678901234567891").ToText(), "0.123456789012345679");
  for (const char* bad :
       {"", "-", ".", "1.2.3", "12a", "1e", "--1", "1 2", "9223372036854775808", "1e20"}) {
    EXPECT_FALSE(Decimal::Parse(bad).has_value()) << bad;
  }
}

TEST(DecimalTest, ArithmeticIsExact) {
  // The classic binary floating point trap.
  EXPECT_EQ((D("0.1") + D("0.2")).ToText(), "0.3");
  EXPECT_EQ((D("10.25") - D("0.255")).ToText(), "9.995");
  EXPECT_EQ((D("1.5") * D("-2.25")).ToText(), "-3.375");
  EXPECT_EQ(D("1.50"), D("1.5"));
  EXPECT_LT(D("-2"), D("-1.99"));
  EXPECT_GT(D("100"), D("99.9999999999999999"));
  // Beyond 19 significant digits the last ones are rounded off to fit.
  EXPECT_EQ(D("99.999999999999999999"), D("100"));
}

TEST(DecimalTest, DivideRoundsHalfAwayFromZeroAtTheRequestedPlaces) {
  EXPECT_EQ(D("1").Divide(D("3"), 4).ToText(), "0.3333");
  EXPECT_EQ(D("2").Divide(D("3"), 2).ToText(), "0.67");
  EXPECT_EQ(D("-2").Divide(D("3"), 2).ToText(), "-0.67");
  EXPECT_EQ(D("1").Divide(D("8"), 2).ToText(), "0.13");
  EXPECT_EQ(D("-1").Divide(D("8"), 2).ToText(), "-0.13");
  EXPECT_EQ(D("10.5").Divide(D("0.25"), 0).ToText(), "42");
  EXPECT_EQ(D("123.456").Divide(D("1000"), 1).ToText(), "0.1");
  EXPECT_EQ(D("1").Divide(D("7"), 18).ToText(), "0.142857142857142857");
}

TEST(DecimalTest, FailuresGiveInvalidValuesThatPropagate) {
  const Decimal byZero = D("5").Divide(D("0"), 2);
  EXPECT_FALSE(byZero.Valid());
  EXPECT_EQ(byZero.ToText(), "");
  EXPECT_FALSE((byZero + D("1")).Valid());
  const Decimal big = D("9000000000000000000");
  EXPECT_FALSE((big + big).Valid());
  EXPECT_FALSE((big * D("10")).Valid());
  EXPECT_FALSE(big.Divide(D("0.001"), 0).Valid());
  EXPECT_FALSE(Decimal::FromParts(1, 19).Valid());
  EXPECT_FALSE(Decimal::FromDouble(1.0 / 0.0).Valid());
}

TEST(DecimalTest, RoundingHappensOnceNotDigitByDigit) {
  // Rounding 0.0449 to one place in two steps would give 0.1 via 0.045 -> 0.05.
  EXPECT_EQ(D("0.0449").Round(1).ToText(), "0.0");
  EXPECT_EQ(D("0.0449").Round(2).ToText(), "0.04");
  EXPECT_EQ(D("2.5").Round(0).ToText(), "3");
  EXPECT_EQ(D("-2.5").Round(0).ToText(), "-3");
  EXPECT_EQ(D("1.23").Rescale(4).ToText(), "1.2300");
  EXPECT_EQ(D("1.23").Round(4).ToText(), "1.23");
  // A product with more than 18 places is rounded once to fit.
  EXPECT_EQ((D("0.0000000001") * D("0.0000000015")).ToText(), "0.000000000000000000");
  EXPECT_EQ((D("0.000000001") * D("0.0000000015")).ToText(), "0.000000000000000002");
}

TEST(DecimalTest, ConvertsToAndFromDoubleThroughShortestText) {
  EXPECT_EQ(Decimal::FromDouble(0.1).ToText(), "0.1");
  EXPECT_EQ(Decimal::FromDouble(-1234.5).ToText(), "-1234.5");
  EXPECT_DOUBLE_EQ(D("-3.25").ToDouble(), -3.25);
  EXPECT_EQ(D("-7.9").ToInteger(), -7);
}

}  // namespace
}  // namespace rt
