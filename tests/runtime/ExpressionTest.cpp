// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/expressions/Expression.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/runtime/expressions/BindingScope.h"
#include "platform/runtime/expressions/Bindings.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/RecordLayout.h"

namespace rt {
namespace {

// The document table's record, and an in-memory record set read through one record buffer
// the way a view reads its file.
class RecordSet : public ::testing::Test {
 protected:
  RecordSet() : layout_("DemoData") {
    layout_.AddField("DEM:ID", FieldType::Long, 0, "n-14");
    layout_.AddField("DEM:FileName", FieldType::String, 80, "s80");
    buffer_.resize(layout_.Size());
    rows_ = {{1, "abc.pdf"},  {2, "ABD.pdf"},    {3, "O'Brien"},    {4, "xyz report"},
             {5, "Abc2"},     {6, "report xyz"}, {7, "zzz"},        {8, "abd"},
             {9, "  padded"}, {10, "ab"},        {11, "XYZ upper"}, {12, "b'quote'"}};
  }

  // IDs of the rows the filter selects.
  std::vector<int> Select(const std::string& filter) {
    Expression expression;
    EXPECT_EQ(expression.Compile(filter), kNoError) << expression.ErrorMessage();
    BindingScope scope(bindings_);
    bindings_.BindRecord(layout_, buffer_.data());
    std::vector<int> ids;
    for (const auto& [id, name] : rows_) {
      WriteInteger(layout_.Field(1), buffer_.data(), id);
      WriteText(layout_.Field(2), buffer_.data(), name);
      int error = -1;
      if (expression.Test(bindings_, &error)) ids.push_back(id);
      EXPECT_EQ(error, kNoError) << filter;
    }
    return ids;
  }

  RecordLayout layout_;
  std::vector<char> buffer_;
  std::vector<std::pair<int, std::string>> rows_;
  Bindings bindings_;
};

using Ids = std::vector<int>;

TEST_F(RecordSet, RangeFiltersOfTheViewManagerSelectTheRange) {
  EXPECT_EQ(Select("DEM:ID >= 5 AND DEM:ID <= 10"), (Ids{5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(Select("DEM:ID = 3"), (Ids{3}));
  // Bounds of an UPPER order are compared case-insensitively; "ABD.PDF" sorts after "ABD".
  EXPECT_EQ(Select("UPPER(DEM:FileName) >= 'ABC' AND UPPER(DEM:FileName) <= 'ABD'"),
            (Ids{1, 5, 8}));
  EXPECT_EQ(Select("UPPER(DEM:FileName) >= UPPER('abc') AND UPPER(DEM:FileName) <= UPPER('abd')"),
            (Ids{1, 5, 8}));
  // Quoted literal with a doubled quote; trailing blanks of the field do not count.
  EXPECT_EQ(Select("DEM:FileName = 'O''Brien'"), (Ids{3}));
  EXPECT_EQ(Select("DEM:FileName = 'b''quote'''"), (Ids{12}));
  // A numeric string literal compares with a number by value.
  EXPECT_EQ(Select("DEM:ID >= '10'"), (Ids{10, 11, 12}));
}

TEST_F(RecordSet, QueryByExampleConditionsSelectTheMatchingRows) {
  EXPECT_EQ(Select("INSTRING('xyz',DEM:FileName,1,1) <> 0"), (Ids{4, 6}));
  EXPECT_EQ(Select("SUB(DEM:FileName,1,3) = 'xyz'"), (Ids{4}));
  EXPECT_EQ(Select("SUB(UPPER(DEM:FileName),1,3) = 'XYZ'"), (Ids{4, 11}));
  EXPECT_EQ(Select("(DEM:ID > 2) AND (DEM:ID < 5)"), (Ids{3, 4}));
  EXPECT_EQ(Select("DEM:ID <= 3 AND (SUB(DEM:FileName,1,2) = 'ab')"), (Ids{1}));
  EXPECT_EQ(Select("NOT (DEM:ID = 1) OR DEM:FileName < 'abd'"),
            (Ids{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(Select("NOT (DEM:ID > 1) OR DEM:FileName < 'O'"), (Ids{1, 2, 5, 9}));
  EXPECT_EQ(Select("UPPER(DEM:FileName) ~= 'ab'"), (Ids{1, 2, 5, 8, 10}));
  EXPECT_EQ(Select("LEFT(DEM:FileName) = 'padded'"), (Ids{9}));
  EXPECT_EQ(Select(""), (Ids{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(Select("   "), (Ids{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST_F(RecordSet, KeywordsFunctionsAndNamesIgnoreCase) {
  EXPECT_EQ(Select("dem:id >= 11 and not dem:id = 12"), (Ids{11}));
  EXPECT_EQ(Select("sub(Dem:FileName,1,3) = 'xyz' Or Dem:Id = 1"), (Ids{1, 4}));
}

ExpressionValue Eval(const std::string& text) {
  Expression expression;
  EXPECT_EQ(expression.Compile(text), kNoError) << expression.ErrorMessage();
  Bindings none;
  int error = -1;
  ExpressionValue value = expression.Evaluate(none, &error);
  EXPECT_EQ(error, kNoError) << text;
  return value;
}

std::string EvalText(const std::string& text) {
  return Eval(text).Text();
}

TEST(ExpressionTest, OperatorsBindFromOrLoosestToPrefixTightest) {
  EXPECT_EQ(EvalText("1 + 2 * 3"), "7");
  EXPECT_EQ(EvalText("(1 + 2) * 3"), "9");
  EXPECT_EQ(EvalText("10 - 4 - 3"), "3");
  EXPECT_EQ(EvalText("24 / 4 / 2"), "3");
  EXPECT_EQ(EvalText("2 * 7 % 4"), "2");
  EXPECT_EQ(EvalText("-2 * -3"), "6");
  EXPECT_EQ(EvalText("- (1 + 2)"), "-3");
  EXPECT_EQ(EvalText("'a' & 1 + 2"), "a3");
  EXPECT_EQ(EvalText("'x' & 'y' = 'xy'"), "1");
  EXPECT_EQ(EvalText("NOT 1 = 2"), "1");
  EXPECT_EQ(EvalText("NOT 0 AND 0"), "0");
  EXPECT_EQ(EvalText("1 = 1 OR 1 = 2 AND 1 = 2"), "1");
  EXPECT_EQ(EvalText("(1 = 1 OR 1 = 2) AND 1 = 2"), "0");
  EXPECT_EQ(EvalText("0.1 + 0.2"), "0.3");
  EXPECT_EQ(EvalText("7 / 2"), "3.5");
}

TEST(ExpressionTest, ComparisonsWorkByValue) {
  EXPECT_EQ(EvalText("'5' = 5"), "1");
  EXPECT_EQ(EvalText("'10' > 9"), "1");    // numeric, not "10" < "9"
  EXPECT_EQ(EvalText("'10' > '9'"), "0");  // two texts compare as texts
  EXPECT_EQ(EvalText("' 5 ' = 5.0"), "1");
  EXPECT_EQ(EvalText("'abc' = 5"), "0");
  EXPECT_EQ(EvalText("'abc   ' = 'abc'"), "1");
  EXPECT_EQ(EvalText("'  abc' = 'abc'"), "0");  // leading blanks count
  EXPECT_EQ(EvalText("'a' = 'A'"), "0");
  EXPECT_EQ(EvalText("'abc' < 'abd' AND 'ab' < 'abc' AND 'b' > 'abc'"), "1");
  EXPECT_EQ(EvalText("'Report  ' ~= 'rep'"), "1");
  EXPECT_EQ(EvalText("'rep' ~= 'report'"), "0");
  EXPECT_EQ(EvalText("1 <> 2 AND 2 <= 2 AND 3 >= 2 AND NOT 3 < 2"), "1");
}

TEST(ExpressionTest, StringFunctions) {
  EXPECT_EQ(EvalText("UPPER('abC1') & LOWER('AbC1')"), "ABC1abc1");
  EXPECT_EQ(EvalText("SUB('abcdef', 2, 3)"), "bcd");
  EXPECT_EQ(EvalText("SUB('abcdef', -2, 2)"), "ef");
  EXPECT_EQ(EvalText("SUB('abcdef', 4)"), "def");
  EXPECT_EQ(EvalText("SUB('abc', 5, 2) & '|' & SUB('abc', 2, 99) & '|' & SUB('abc', 1, -1)"),
            "|bc|");
  EXPECT_EQ(EvalText("LEFT('  ab')"), "ab  ");
  EXPECT_EQ(EvalText("LEFT('  ab', 6)"), "ab    ");
  EXPECT_EQ(EvalText("LEFT(12345, 3)"), "123");
  EXPECT_EQ(EvalText("CLIP('ab  ') & '|'"), "ab|");
  EXPECT_EQ(EvalText("INSTRING('c', 'abcabc', 1, 1)"), "3");
  EXPECT_EQ(EvalText("INSTRING('c', 'abcabc', 1, 4)"), "6");
  EXPECT_EQ(EvalText("INSTRING('DEF', 'ABCDEFGHI', 3, 1)"), "2");  // third step of three
  EXPECT_EQ(EvalText("INSTRING('EFG', 'ABCDEFGHI', 3, 1)"), "0");  // not on a step boundary
  EXPECT_EQ(EvalText("INSTRING('c', 'abcabc', -1, 6)"), "6");
  EXPECT_EQ(EvalText("INSTRING('x', 'abc')"), "0");
  EXPECT_EQ(EvalText("LEN('ab  ') & LEN('')"), "40");
  EXPECT_EQ(EvalText("VAL('A') & '|' & CHR(66) & '|' & VAL('')"), "65|B|0");
}

TEST(ExpressionTest, NumberFunctionsAndPictures) {
  EXPECT_EQ(EvalText("ABS(-2.5) & ' ' & INT(-2.7) & ' ' & INT(2.7)"), "2.5 -2 2");
  EXPECT_EQ(EvalText("'12' + '0.5'"), "12.5");
  EXPECT_EQ(EvalText("'abc' * 2"), "0");
  EXPECT_EQ(EvalText("FORMAT(7, @n03)"), "007");
  EXPECT_EQ(EvalText("FORMAT(1234.5, @n$,12.2)"), "   $1,234.50");
  EXPECT_EQ(EvalText("DEFORMAT('$1,234.50', @n$,12.2) = 1234.5"), "1");
  EXPECT_EQ(EvalText("FORMAT(5, '@n03')"), "005");
  EXPECT_EQ(EvalText("FORMAT(-12.5, @n(10.2))"), "   (12.50)");
  EXPECT_EQ(EvalText("FORMAT(-12.5, @n(10.2) ) & '|'"), "   (12.50)|");
}

TEST(ExpressionTest, MalformedTextsGiveSyntaxErrorsWithTheirColumn) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"DEM:ID >=", 10},         {"(DEM:ID = 1", 12}, {"DEM:ID = 'abc", 10},
      {"FOO(1) = 2", 1},         {"SUB('a')", 1},     {"1 = 2 = 3", 7},
      {"DEM:ID # 3", 8},         {"DEM:ID = 1)", 11}, {"AND 1", 1},
      {"UPPER('a',)", 11},       {"5abc = 1", 1},     {"1 ~ 2", 3},
      {"DEM:ID = 1 DEM:ID", 12}, {"()", 2},           {"CHR(1 2)", 7},
  };
  for (const auto& [text, column] : cases) {
    ClearError();
    Expression expression;
    EXPECT_EQ(expression.Compile(text), kExpressionSyntaxError) << text;
    EXPECT_EQ(ErrorCode(), kExpressionSyntaxError) << text;
    EXPECT_EQ(expression.ErrorPosition(), column) << text << ": " << expression.ErrorMessage();
    EXPECT_NE(ErrorText().find("column " + std::to_string(column)), std::string::npos)
        << ErrorText();
    // A failed expression selects nothing and says why.
    int error = 0;
    EXPECT_FALSE(expression.Test(Bindings(), &error));
    EXPECT_EQ(error, kExpressionSyntaxError);
  }
}

TEST(ExpressionTest, NestingIsLimitedButLongFlatFiltersCompile) {
  Expression expression;
  std::string deep = std::string(5000, '(') + "1" + std::string(5000, ')');
  EXPECT_EQ(expression.Compile(deep), kExpressionSyntaxError);
  EXPECT_EQ(expression.Compile(std::string(5000, '-') + "1"), kExpressionSyntaxError);
  EXPECT_EQ(expression.Compile(std::string(20, ' ') + "NOT NOT 1"), kNoError);

  std::string flat = "1 = 1";
  for (int i = 0; i < 3000; ++i)
    flat += " AND (" + std::to_string(i) + " < 3001)";
  ASSERT_EQ(expression.Compile(flat), kNoError) << expression.ErrorMessage();
  EXPECT_TRUE(expression.Test(Bindings()));
}

TEST(ExpressionTest, DecimalLiteralsAndFieldsCompareExactly) {
  EXPECT_EQ(EvalText("0.1 + 0.2 = 0.3"), "1");
  EXPECT_EQ(EvalText("0.3 - 0.1 = 0.2 AND 1.1 * 1.1 = 1.21 AND 0.3 / 3 = 0.1"), "1");
  EXPECT_EQ(EvalText("-(0.1 + 0.2) = -0.3 AND ABS(-0.7 + 0.1) = 0.6"), "1");
  EXPECT_EQ(EvalText("'0.3' = 0.1 + 0.2"), "1");
  EXPECT_EQ(EvalText("1 / 3"), "0.333333333333333");  // not exact: a double as before
  // A decimal field holding 0.30 matches the sum in a filter.
  Bindings bindings;
  std::int64_t mantissa = 30;  // 0.30 with two places
  bindings.Bind("INV:AMOUNT", AnyRef(&mantissa, FieldType::Decimal, 8, 2));
  Expression filter;
  ASSERT_EQ(filter.Compile("INV:Amount = 0.1 + 0.2"), kNoError);
  EXPECT_TRUE(filter.Test(bindings));
}

// A join of many parts used to copy the whole result at each step (quadratic); the size
// check keeps the long join in the suite, where a regression shows as a slow test.
TEST(ExpressionTest, LongJoinsKeepEveryPart) {
  std::string text = "'x'";
  for (int i = 0; i < 100000; ++i)
    text += " & 'abcde'";
  Expression expression;
  ASSERT_EQ(expression.Compile(text), kNoError) << expression.ErrorMessage();
  const std::string joined = expression.Evaluate(Bindings()).Text();
  EXPECT_EQ(joined.size(), 1u + 5u * 100000u);
  EXPECT_EQ(joined.substr(joined.size() - 6), "eabcde");
}

TEST(ExpressionTest, EvaluationFailuresReportAndGiveADefiniteResult) {
  Bindings bindings;
  std::int32_t id = 4;
  bindings.Bind("DEM:ID", AnyRef::Of(id));
  const std::vector<std::string> failing = {"DEM:Missing = ''", "DEM:ID / 0 = 0", "DEM:ID % 0 = 0",
                                            "CHR(300) = ''", "INSTRING('a', 'abc', 0, 1) = 0"};
  for (const std::string& text : failing) {
    Expression expression;
    ASSERT_EQ(expression.Compile(text), kNoError) << text;
    ClearError();
    int error = 0;
    EXPECT_FALSE(expression.Test(bindings, &error)) << text;
    EXPECT_EQ(error, kExpressionEvalError) << text;
    EXPECT_EQ(ErrorCode(), kExpressionEvalError) << text;
    EXPECT_EQ(expression.Evaluate(bindings).Text(), "");
  }
  // A failure in a branch that is not needed is not evaluated.
  Expression shortCut;
  ASSERT_EQ(shortCut.Compile("DEM:ID = 4 OR DEM:ID / 0 = 1"), kNoError);
  int error = -1;
  EXPECT_TRUE(shortCut.Test(bindings, &error));
  EXPECT_EQ(error, kNoError);
}

TEST(BindingsTest, NewestScopeHidesOlderAndClosingDropsItsNames) {
  Bindings bindings;
  std::int32_t outer = 1;
  std::int32_t inner = 2;
  std::int32_t only = 3;
  ASSERT_TRUE(bindings.Bind("Loc:Value", AnyRef::Of(outer)));
  Expression expression;
  ASSERT_EQ(expression.Compile("LOC:VALUE * 10 + LOC:ONLY"), kNoError);
  {
    BindingScope scope(bindings);
    bindings.Bind("loc:value", AnyRef::Of(inner));
    bindings.Bind("Loc:Only", AnyRef::Of(only));
    EXPECT_EQ(bindings.Depth(), 2);
    EXPECT_EQ(expression.Evaluate(bindings).Text(), "23");
    inner = 5;  // bound by reference: evaluation reads the current value
    EXPECT_EQ(expression.Evaluate(bindings).Text(), "53");
  }
  EXPECT_EQ(bindings.Depth(), 1);
  EXPECT_EQ(bindings.Find("LOC:ONLY"), nullptr);
  int error = 0;
  expression.Evaluate(bindings, &error);
  EXPECT_EQ(error, kExpressionEvalError);
  EXPECT_FALSE(bindings.CloseScope());  // the base scope stays
  EXPECT_NE(bindings.Find("loc:value"), nullptr);
  EXPECT_FALSE(bindings.Bind("", AnyRef::Of(outer)));
  EXPECT_FALSE(bindings.Bind("X", AnyRef()));
}

TEST(BindingsTest, EachThreadHasItsOwnBindings) {
  std::int32_t value = 9;
  BindingScope scope;  // on this thread's bindings
  Bindings::Current().Bind("T:V", AnyRef::Of(value));
  const AnyRef* seenElsewhere = Bindings::Current().Find("T:V");
  ASSERT_NE(seenElsewhere, nullptr);
  std::thread other([&] { seenElsewhere = Bindings::Current().Find("T:V"); });
  other.join();
  EXPECT_EQ(seenElsewhere, nullptr);
  Expression expression;
  ASSERT_EQ(expression.Compile("T:V + 1"), kNoError);
  EXPECT_EQ(expression.Evaluate().Text(), "10");
}

class ConjunctionTest : public ::testing::Test {
 protected:
  ConjunctionTest() {
    layout_.AddField("DEM:ID", FieldType::Long);
    layout_.AddField("DEM:FileName", FieldType::String, 80);
    buffer_.resize(layout_.Size());
    bindings_.BindRecord(layout_, buffer_.data());
  }
  std::optional<std::vector<ExpressionTerm>> Terms(const std::string& text) {
    Expression expression;
    EXPECT_EQ(expression.Compile(text), kNoError) << text;
    return expression.Conjunction(bindings_);
  }
  RecordLayout layout_;
  std::vector<char> buffer_;
  Bindings bindings_;
};

TEST_F(ConjunctionTest, PlainConjunctionsOfFieldAndLiteralAreFound) {
  auto terms = Terms("DEM:ID >= 5 AND (DEM:ID <= '10')");
  ASSERT_TRUE(terms.has_value());
  ASSERT_EQ(terms->size(), 2u);
  EXPECT_EQ((*terms)[0].label, "DEM:ID");
  EXPECT_EQ((*terms)[0].op, CompareOp::GreaterEqual);
  EXPECT_EQ((*terms)[0].field.Address(), buffer_.data());
  EXPECT_EQ((*terms)[1].op, CompareOp::LessEqual);
  ASSERT_TRUE((*terms)[1].literal.IsNumber());  // numeric text against a numeric field
  EXPECT_EQ((*terms)[1].literal.Number(), 10);

  terms = Terms("UPPER(DEM:FileName) >= UPPER('abc') AND UPPER(DEM:FileName) <= 'ABD'");
  ASSERT_TRUE(terms.has_value());
  ASSERT_EQ(terms->size(), 2u);
  EXPECT_EQ((*terms)[0].fold, CaseFold::Upper);
  EXPECT_EQ((*terms)[0].literal.Text(), "ABC");

  terms = Terms("5 < DEM:ID AND 'O''Brien' = DEM:FileName");  // literal first: mirrored
  ASSERT_TRUE(terms.has_value());
  EXPECT_EQ((*terms)[0].op, CompareOp::Greater);
  EXPECT_EQ((*terms)[1].label, "DEM:FILENAME");
  EXPECT_EQ((*terms)[1].literal.Text(), "O'Brien");

  terms = Terms("");
  ASSERT_TRUE(terms.has_value());
  EXPECT_TRUE(terms->empty());
}

TEST_F(ConjunctionTest, AnythingAnSqlComparisonCannotReproduceIsRefused) {
  for (const char* text :
       {"DEM:ID = 1 OR DEM:ID = 2", "NOT DEM:ID = 1", "INSTRING('xyz',DEM:FileName,1,1) <> 0",
        "SUB(DEM:FileName,1,3) = 'x'", "DEM:Other = 1", "DEM:ID = DEM:ID", "DEM:ID = 'abc'",
        "DEM:FileName = 5", "'ab' ~= DEM:FileName", "DEM:ID + 1 = 2", "DEM:ID = 1 / 0", "DEM:ID"}) {
    EXPECT_FALSE(Terms(text).has_value()) << text;
  }
}

}  // namespace
}  // namespace rt
