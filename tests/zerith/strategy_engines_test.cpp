#include "zerith/strategy_engines.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "support/fake_market_data.h"
#include "contracts/dates.h"

namespace zerith {
namespace {

using quorvel::testing::bundled_bars;
using E = StrategyEngine;

constexpr E ALL[] = {E::ENGINE1_TREND, E::ENGINE2_REVERSAL, E::ENGINE3_KAUFMAN, E::US_DUAL_CORE};
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// The history up to and including the bar of `date`.
tarnel::BarTable upto(const tarnel::BarTable& bars, const std::string& date) {
  tarnel::BarTable prefix = bars.slice(bars.index().front(), tarnel::parse_date(date));
  EXPECT_EQ(prefix.last_date(), date);
  return prefix;
}

double round3(double x) { return std::nearbyint(x * 1000) / 1000; }

// Signals on real bars. The numbers in the comments were checked against the CSV rows; the
// indicator values against a separate re-computation of the same formulas over the full history.
TEST(StrategyEngines, FireOnHandCheckedRealBars) {
  const struct {
    E engine;
    const char* file;
    const char* date;
    bool buy;  // else sell
    const char* tier;
    const char* quiet_date;  // a neighbouring bar without any signal
  } rows[] = {
      // Close 1887.00 tops the highest high of the 20 bars before (1864.50), which 01-12's close
      // 1834.00 did not; volume 3193965 is 1.347 x the mean of the 5 bars before; EMA5/10/20/60
      // 1847.357 > 1818.880 > 1780.731 and close > 1720.855; ADX 24.395 -> 25.691; VWMA20 1777.881
      // above 1765.635 three bars before. Breakout with volume ratio >= 1.3 and ADX >= 25: A.
      {E::ENGINE1_TREND, "bars/a/sh.600519.csv", "2023-01-13", true, "A", "2023-01-12"},
      // Close 1818.00 under EMA20 1831.131 after 02-02's 1836.11 >= 1832.513; ADX 26.497 -> 25.055.
      // EMA5 was already under EMA10 on 02-02 (1852.502 < 1854.941): one sell rule, B.
      {E::ENGINE1_TREND, "bars/a/sh.600519.csv", "2023-02-03", false, "B", "2023-02-02"},
      // RSI 26.884 on 01-17, 37.691 on 01-18 with the close up 1577.00 -> 1610.87. Low 1555.55
      // undercuts the swing low 1635.00 of 2023-12-18 (22 bars back) where RSI was 35.858 (< 37.691)
      // and the MACD histogram -9.953 (< -4.553): divergence without a reversal candle, B. On 01-19
      // the same conditions hold, but the signal fired the bar before.
      {E::ENGINE2_REVERSAL, "bars/a/sh.600519.csv", "2024-01-18", true, "B", "2024-01-19"},
      // 08-19 opens 1432.00 above 08-16's close 1431.20 and closes 1425.44 under its open 1426.79
      // (bearish engulfing); high 1458.88 reaches the upper band 1457.064. RSI 46.086 was not
      // overbought: candle only, C.
      {E::ENGINE2_REVERSAL, "bars/a/sh.600519.csv", "2024-08-19", false, "C", "2024-08-16"},
      // Close 3.427 above KAMA 3.3010 after 3.283 <= 3.2845; KAMA rising; ER 0.458 with the close
      // 10 bars back at 3.302 (< 3.427): an efficient rise, 0.45 <= ER < 0.6, B. 09-23: ER 0.299.
      {E::ENGINE3_KAUFMAN, "bars/etf/510300.csv", "2024-09-24", true, "B", "2024-09-23"},
      // Close 3.435 under KAMA 3.4822 after 3.493 >= 3.4914; KAMA falling; ER 0.562 with the close
      // 10 bars back at 3.558 (> 3.435): A.
      {E::ENGINE3_KAUFMAN, "bars/etf/510300.csv", "2023-12-13", false, "A", "2023-12-14"},
      // Close 149.15 > SMA200 126.635, SMA50 131.074 > SMA200; the close tops the 20-bar channel
      // high 147.46, which 07-13's close 145.64 did not (146.32); volume 127050800 is 1.558 x the
      // prior 20-bar mean 81567290: A.
      {E::US_DUAL_CORE, "bars/us/AAPL.csv", "2021-07-14", true, "A", "2021-07-13"},
      // Close 150.62 under the 20-bar channel low 152.00 (03-11 closed 154.73 above it) and under
      // SMA200 153.735 (03-11: 154.73 >= 153.609): both sell rules, A.
      {E::US_DUAL_CORE, "bars/us/AAPL.csv", "2022-03-14", false, "A", "2022-03-15"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(engine_name(row.engine) + " " + row.date);
    const tarnel::BarTable bars = bundled_bars(row.file);
    const tarnel::BarTable prefix = upto(bars, row.date);
    const SignalEvent e = compute_strategy_signal(row.engine, prefix, "test");
    EXPECT_EQ(e.date, row.date);
    EXPECT_EQ(e.buy_signal, row.buy);
    EXPECT_EQ(e.sell_signal, !row.buy);
    EXPECT_EQ(e.signal_tier, row.tier);
    EXPECT_FALSE(e.reason.empty());
    const double close = prefix.last("close");
    EXPECT_EQ(e.details.value("close", NaN), round3(close));
    if (row.buy) {  // long reference: stop under the close, target two risks above it
      EXPECT_LT(e.stop_loss, close);
      EXPECT_NEAR(e.take_profit, close + 2 * (close - e.stop_loss), 0.0021);
    } else {
      EXPECT_TRUE(std::isnan(e.stop_loss) && std::isnan(e.take_profit));
    }
    const SignalEvent quiet = compute_strategy_signal(row.engine, upto(bars, row.quiet_date), "test");
    EXPECT_FALSE(quiet.buy_signal || quiet.sell_signal) << quiet.reason;
    EXPECT_EQ(quiet.signal_tier, "");
  }
}

tarnel::BarTable flat_bars(std::size_t n) {
  tarnel::BarTable t = tarnel::BarTable::with_base_columns();
  for (std::size_t i = 0; i < n; ++i)
    t.append_row(tarnel::parse_date("2020-01-01") + date::days(long(i)), {10.0, 10.0, 10.0, 10.0, 1000.0, 10000.0});
  return t;
}

// The table with `value` in the column's rows [from, to).
tarnel::BarTable with_value(tarnel::BarTable t, const char* column, std::size_t from, std::size_t to, double value) {
  auto& c = t.column(column);
  for (std::size_t k = from; k < to; ++k) c[k] = value;
  return t;
}

TEST(StrategyEngines, BadInputsGiveQuietEvents) {
  const tarnel::BarTable real = bundled_bars("bars/a/sh.600519.csv").tail(300);
  const std::size_t n = real.rows();
  const struct {
    const char* name;
    tarnel::BarTable bars;
    const char* state;  // nullptr: the engine judges the bars normally
  } rows[] = {
      {"empty", tarnel::BarTable::with_base_columns(), "数据不足"},
      {"5 rows", real.tail(5), "数据不足"},
      {"NaN close 3 bars before the end", with_value(real, "close", n - 3, n - 2, NaN), "数据不足"},
      {"NaN on the last bar", with_value(real, "high", n - 1, n, NaN), "数据不足"},
      {"zero volume", with_value(real, "volume", 0, n, 0.0), "观望"},
      {"flat prices", flat_bars(300), "观望"},
      // 290 complete bars after the gap are enough for every engine.
      {"NaN gap long ago", with_value(real, "open", 9, 10, NaN), nullptr},
  };
  for (const auto& row : rows) {
    for (E engine : ALL) {
      SCOPED_TRACE(std::string(row.name) + " " + engine_name(engine));
      const SignalEvent e = compute_strategy_signal(engine, row.bars, "test");
      EXPECT_EQ(e.date, row.bars.empty() ? "" : row.bars.last_date());
      EXPECT_FALSE(e.strategy_name.empty());
      if (!row.state) {
        EXPECT_NE(e.state, "数据不足");
        continue;
      }
      EXPECT_EQ(e.state, row.state);
      EXPECT_FALSE(e.buy_signal || e.sell_signal);
      EXPECT_EQ(e.signal_tier, "");
      EXPECT_TRUE(std::isnan(e.stop_loss) && std::isnan(e.take_profit));
      EXPECT_FALSE(e.reason.empty());
    }
  }
}

}  // namespace
}  // namespace zerith
