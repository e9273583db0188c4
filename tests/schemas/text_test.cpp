#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "quorvel/agent/schemas/decimal.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::agent::schemas {
namespace {

TEST(Utf8Text, IllFormedSequencesDecodeToReplacementCharacters) {
  const struct {
    std::string name;
    std::string in;
    std::string out;
  } rows[] = {
      {"valid text is kept", "a汉\xF0\x9F\x98\x80", "a汉\xF0\x9F\x98\x80"},
      {"lone continuation byte", "a\x80z", "a\uFFFDz"},
      {"truncated three-byte sequence is one replacement", "\xE6\xB1z", "\uFFFDz"},
      {"overlong encoding: one replacement per byte", "\xC0\xAF", "\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"truncated at the end", "ok\xF0\x9F\x98", "ok\uFFFD"},
      {"NUL bytes are characters", std::string("a\0b", 3), std::string("a\0b", 3)},
      {"genuine replacement character", "\uFFFD", "\uFFFD"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string storage;
    EXPECT_EQ(ensure_valid_utf8(row.in, storage), row.out);
    EXPECT_EQ(is_valid_utf8(row.in), row.in == row.out);
  }
}

TEST(Utf8Text, CountsAndPrefixesByCodePoint) {
  EXPECT_EQ(count_code_points("a汉\xF0\x9F\x98\x80"), 3u);
  EXPECT_EQ(prefix_code_points("a汉字b", 2), "a汉");
  EXPECT_EQ(prefix_code_points("a汉", 5), "a汉");
  EXPECT_EQ(prefix_code_points("abc", 0), "");
}

TEST(Utf8Text, CleaningKeepsPrintableTextAndLineBreaks) {
  const struct {
    std::string name;
    std::string in;
    std::string out;
  } rows[] = {
      {"ordinary text, space, tab and line breaks kept", "a b\tc\r\nd 汉字！😀", "a b\tc\r\nd 汉字！😀"},
      {"zero-width space, joiners, BOM, soft hyphen", "a\u200bb\u200cc\u200dd\uFEFFe\u00adf", "abcdef"},
      {"no-break, ideographic and other spaces", "a\u00a0b\u3000c\u2002d\u202fe", "abcde"},
      {"line and paragraph separators", "a\u2028b\u2029c", "abc"},
      {"control characters", std::string("a\0b\x01\x7f\u0085c\x0b\x0c", 12), "abc"},
      {"private use and unassigned", "a\uE000b\U000F0000c\U0010FFFFd\u0378e", "abcde"},
      {"replacement character is printable", "\uFFFD", "\uFFFD"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(clean_decision_text(row.in), row.out);
  }
}

TEST(Utf8Text, TrimsUnicodeWhiteSpace) {
  EXPECT_EQ(trim_unicode_space("\u3000 \t12.5\u00a0\n"), "12.5");
  EXPECT_EQ(trim_unicode_space(" \u2028 "), "");
  EXPECT_EQ(trim_unicode_space("a b"), "a b");
}

TEST(Decimal, RoundsToThreeDecimalsOnTheExactBinaryValue) {
  const struct {
    double in;
    double out;
  } rows[] = {
      {10.12345, 10.123}, {24.5004, 24.5}, {0.0625, 0.062}, {0.1875, 0.188}, {1.0005, 1.0},
      {2.675, 2.675},     {-0.0625, -0.062}, {0.0005, 0.001}, {0.0015, 0.002}, {123456789.98765, 123456789.988},
      {1e300, 1e300},     {5e-324, 0.0},     {-1e-9, -0.0},   {0.125, 0.125},  {9.9995, 9.999},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.in);
    EXPECT_EQ(round3(row.in), row.out);
  }
  EXPECT_TRUE(std::signbit(round3(-1e-9)));
  EXPECT_TRUE(std::isnan(round3(std::nan(""))));
  EXPECT_EQ(round3(-std::numeric_limits<double>::infinity()), -std::numeric_limits<double>::infinity());
}

TEST(Decimal, ParsesDecimalTextsLikeAnLlmWritesThem) {
  const struct {
    std::string in;
    std::optional<double> out;
  } rows[] = {
      {"12", 12.0},        {" -0.5 ", -0.5},   {"+3.", 3.0},       {".25", 0.25},       {"1e-3", 0.001},
      {"1E+2", 100.0},     {"\u300010\u3000", 10.0}, {"1e400", std::numeric_limits<double>::infinity()},
      {"-1e-400", -0.0},   {"INF", std::numeric_limits<double>::infinity()},
      {"-Infinity", -std::numeric_limits<double>::infinity()},
      {"", std::nullopt},  {"  ", std::nullopt}, {"十", std::nullopt}, {"1,5", std::nullopt},
      {"0x10", std::nullopt}, {"1e", std::nullopt}, {".", std::nullopt}, {"--1", std::nullopt},
      {"nan(1)", std::nullopt}, {"12元", std::nullopt}, {"1 2", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.in);
    EXPECT_EQ(parse_decimal(row.in), row.out);
  }
  EXPECT_TRUE(std::isnan(*parse_decimal(" nan ")));
}

TEST(Decimal, TruncatedIntegerTextIsExact) {
  EXPECT_EQ(truncated_integer_text(12.9), "12");
  EXPECT_EQ(truncated_integer_text(-5.5), "-5");
  EXPECT_EQ(truncated_integer_text(-0.5), "0");
  EXPECT_EQ(truncated_integer_text(1e20), "100000000000000000000");
  EXPECT_EQ(truncated_integer_text(1.7976931348623157e308).size(), 309u);
}

}  // namespace
}  // namespace quorvel::agent::schemas
