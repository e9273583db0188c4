#include <cmath>

#include <gtest/gtest.h>

#include "support/fake_market_data.h"
#include "contracts/dates.h"
#include "tarnel/rows_json.h"
#include "tarnel/weekly_bars.h"

namespace tarnel {
namespace {

// The daily rows of the real table whose dates lie in [first, last].
BarTable days(const BarTable& daily, const char* first, const char* last) {
  return daily.slice(parse_date(first), parse_date(last));
}

void expect_week(const BarTable& weekly, const BarTable& daily, const char* first, const char* last,
                 const char* label) {
  SCOPED_TRACE(label);
  const BarTable d = days(daily, first, last);
  ASSERT_FALSE(d.empty());
  const auto& idx = weekly.index();
  const auto it = std::find(idx.begin(), idx.end(), parse_date(label));
  ASSERT_NE(it, idx.end());
  const std::size_t w = std::size_t(it - idx.begin());
  EXPECT_EQ(d.last_date(), label);
  EXPECT_EQ(weekly.column("open")[w], d.column("open").front());
  EXPECT_EQ(weekly.column("close")[w], d.column("close").back());
  EXPECT_EQ(weekly.column("high")[w], *std::max_element(d.column("high").begin(), d.column("high").end()));
  EXPECT_EQ(weekly.column("low")[w], *std::min_element(d.column("low").begin(), d.column("low").end()));
  double vol = 0, amt = 0;
  for (std::size_t i = 0; i < d.rows(); ++i) {
    vol += d.column("volume")[i];
    amt += d.column("amount")[i];
  }
  EXPECT_DOUBLE_EQ(weekly.column("volume")[w], vol);
  EXPECT_DOUBLE_EQ(weekly.column("amount")[w], amt);
}

TEST(WeeklyBars, RealStockAcrossHolidayWeeks) {
  const BarTable daily = quorvel::testing::bundled_bars("bars/a/sh.600000.csv");
  const BarTable weekly = weekly_bars(daily);
  // Spring Festival 2023: Jan 21-27 closed, so the week of Jan 16 is followed by the week of Jan 30.
  expect_week(weekly, daily, "2023-01-16", "2023-01-22", "2023-01-20");
  expect_week(weekly, daily, "2023-01-23", "2023-02-05", "2023-02-03");
  // Dragon Boat Festival 2022 fell on Friday June 3: that week ends on Thursday.
  expect_week(weekly, daily, "2022-05-30", "2022-06-05", "2022-06-02");
  // National Day 2022: Oct 3-7 closed, no bar at all for that week.
  expect_week(weekly, daily, "2022-09-26", "2022-10-02", "2022-09-30");
  EXPECT_TRUE(days(weekly, "2022-10-03", "2022-10-09").empty());
  // Across a year end the Monday-to-Sunday week is kept whole.
  expect_week(weekly, daily, "2018-12-31", "2019-01-06", "2019-01-04");
  EXPECT_EQ(weekly.column_names(), BarTable::base_columns());
  EXPECT_TRUE(weekly_bars(BarTable::with_base_columns()).empty());
}

TEST(WeeklyBars, MissingAmountsStayMissing) {
  BarTable t = quorvel::testing::BarsBuilder().day("2023-02-06", 1, 2, 0.5, 1.5, 10, std::nan("")).build();
  EXPECT_TRUE(std::isnan(weekly_bars(t).last("amount")));
  EXPECT_EQ(weekly_bars(t).last("volume"), 10);
}

TEST(RowsJson, ColumnsListThenOneArrayPerRowInGuideOrder) {
  const double nan = std::nan("");
  BarTable t = quorvel::testing::BarsBuilder()
                   .day("2023-02-09", 383.3999938964844, 384.5, 382.1000061035156, 383.7, 10895965.6, 79099151.19)
                   .day("2023-02-10", 383.5, 385.0, 381.0, 382.9, 11944106, nan)
                   .build();
  // Set out of guide order; Volume_MA is not in the guide and is left out.
  t.set_column("OBV", {123456.6, -5.2});
  t.set_column("RSI", {nan, 43.47549});
  t.set_column("MACD_hist", {0.01234, -1.0456});
  t.set_column("Volume_MA", {1, 2});
  t.set_column("EMA_5", {383.23456, 382.9951});
  t.set_column("ATR", {nan, 7.812});
  EXPECT_EQ(rows_to_json(t),
            R"({"columns":["Date","open","high","low","close","volume","EMA_5","MACD_hist","RSI","OBV","ATR"],"rows":[)"
            R"(["2023-02-09",383.4,384.5,382.1,383.7,10895966,383.23,0.01,null,123457,null],)"
            R"(["2023-02-10",383.5,385,381,382.9,11944106,383,-1.05,43.48,-5,7.81]]})");
  // A small ATR keeps three significant digits in the price differences.
  t.set_column("ATR", {nan, 0.0812});
  EXPECT_NE(rows_to_json(t).find(R"(383,-1.0456,43.48,-5,0.0812]]})"), std::string::npos) << rows_to_json(t);
  EXPECT_EQ(rows_to_json(BarTable::with_base_columns()), "[]");
}

TEST(RowsJson, PriceDecimalsAreTheFewestThatWriteEveryPriceExactly) {
  const struct {
    double open, close;
    int decimals;
  } cases[] = {{1790.0, 1810.25, 2},
               {0.792, 0.799, 3},
               {3.604, 3.7, 3},
               {383.3999938964844, 113.5999984741211, 2},  // single-precision noise
               {27.84749984741211, 26.5625, 4},
               {1.12345, 1.1, 4}};                         // finer than 4 decimals: capped
  for (const auto& c : cases) {
    SCOPED_TRACE(c.open);
    const BarTable t = quorvel::testing::BarsBuilder()
                           .day("2023-02-09", c.open, c.open, c.open, c.open, 1)
                           .day("2023-02-10", c.close, c.close, c.close, c.close, 1)
                           .build();
    EXPECT_EQ(price_decimals(t), c.decimals);
  }
}

}  // namespace
}  // namespace tarnel
