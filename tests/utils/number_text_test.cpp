#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "quorvel/utils/number_text.h"

namespace quorvel {
namespace {

TEST(NumberText, ShortestRoundTripWithPlainAndExponentRanges) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    const char* text;
  } rows[] = {
      {7.0, "7.0"},          {0.1, "0.1"},           {1e-05, "1e-05"},        {1.5e16, "1.5e+16"},
      {0.0001, "0.0001"},    {0.00012, "0.00012"},   {1e16, "1e+16"},         {9999999999999998.0, "9999999999999998.0"},
      {12.346, "12.346"},    {-0.0, "-0.0"},         {0.0, "0.0"},            {1234567.0, "1234567.0"},
      {std::nan(""), "nan"}, {inf, "inf"},           {-inf, "-inf"},          {-2.5e-7, "-2.5e-07"},
      {123e20, "1.23e+22"},  {0.30000000000000004, "0.30000000000000004"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(number_text(row.value), row.text);
  }
  EXPECT_EQ(number_text(Num(0)), "0");
  EXPECT_EQ(number_text(Num(7.0)), "7.0");
}

TEST(NumberText, RoundingToThreeAndZeroDecimalsIsHalfToEven) {
  EXPECT_EQ(r3(12.3456), "12.346");
  EXPECT_EQ(r3(0.1), "0.1");
  EXPECT_EQ(r3(Num(7)), "7");
  EXPECT_EQ(r3(std::nan("")), "nan");
  EXPECT_EQ(r3(-0.0004), "-0.0");
  EXPECT_EQ(r3(1000000.0), "1000000.0");
  EXPECT_EQ(r0(1.49), "1");
  EXPECT_EQ(r0(1.5), "2");
  EXPECT_EQ(r0(2.5), "2");
  EXPECT_EQ(r0(-0.6), "-1");
  EXPECT_EQ(r0(-0.4), "0");
  EXPECT_EQ(r0(std::nan("")), "nan");
  EXPECT_EQ(r0(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(round_half_even(0.125, 2), 0.12);
}

}  // namespace
}  // namespace quorvel
