// The text rules every layer shares (variant/variant_text.h): decimal text of a double, where the
// dataset and the SQLite driver once kept copies that differed on exponents, and cutting UTF-8
// text by code points, which the settings file and the dataset each did their own way.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "variant/variant_text.h"

namespace velmora::test {
namespace {

TEST(TextRules, DecimalTextOfADoubleHasNoExponentAndNoTrailingZeros) {
  const std::vector<std::pair<double, std::string>> cases = {
      {0.1, "0.1"},
      {-2.5, "-2.5"},
      {12345678.25, "12345678.25"},
      {1e20, "100000000000000000000"},
      {1e-5, "0.00001"},
      {-1.5e-7, "-0.00000015"},
      {std::numeric_limits<double>::infinity(), ""},
      {std::numeric_limits<double>::quiet_NaN(), ""},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(FormatDecimal(value), text) << value;
}

TEST(TextRules, CuttingAndCountingNeverSplitACodePoint) {
  const std::string text = "a\xC3\xA9\xE6\x95\xB0\xF0\x9F\x98\x80z";  // a é 数 😀 z
  EXPECT_EQ(CodePointCount(text), 5u);
  const std::vector<std::pair<size_t, std::string>> cuts = {
      {0, ""},
      {1, "a"},
      {2, "a\xC3\xA9"},
      {3, "a\xC3\xA9\xE6\x95\xB0"},
      {4, "a\xC3\xA9\xE6\x95\xB0\xF0\x9F\x98\x80"},
      {5, text},
      {50, text},
  };
  for (const auto& [max, prefix] : cuts) EXPECT_EQ(CutToCodePoints(text, max), prefix) << max;
}

TEST(TextRules, BlanksAndLetterCaseAreAsciiOnly) {
  EXPECT_EQ(TrimBlanks(" \t\r\n\v\fx y\r\n"), "x y");
  EXPECT_EQ(TrimBlanks("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0");  // no-break spaces stay
  EXPECT_TRUE(EqualsNoCase("DriverID", "driverid"));
  EXPECT_FALSE(EqualsNoCase("\xC3\x89", "\xC3\xA9"));  // É and é: not ASCII letters
  EXPECT_TRUE(LessNoCase("apple", "BANANA"));
  EXPECT_FALSE(LessNoCase("Apple", "apple"));
  EXPECT_FALSE(LessNoCase("apple", "Apple"));
}

}  // namespace
}  // namespace velmora::test
