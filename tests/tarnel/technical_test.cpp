#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "support/fake_market_data.h"
#include "quorvel/ta/talib_calls.h"
#include "tarnel/technical.h"

namespace tarnel {
namespace {

namespace talib = quorvel::ta::talib;

using Series = std::vector<double>;

// The indicators by their textbook definitions, computed here step by step.
// EMA: seeded with the mean of the first `n` values, then x * 2/(n+1) + previous * (1 - 2/(n+1)).
Series ema_by_hand(const Series& x, std::size_t n) {
  Series out(x.size(), std::nan(""));
  double e = 0;
  for (std::size_t i = 0; i < n; ++i) e += x[i] / double(n);
  out[n - 1] = e;
  for (std::size_t i = n; i < x.size(); ++i) out[i] = e = x[i] * 2 / double(n + 1) + e * (1 - 2 / double(n + 1));
  return out;
}

// Wilder's smoothing of `v` (first value at row `first`): the mean of the first `n`, then
// (previous * (n - 1) + v) / n.
double wilder_last(const Series& v, std::size_t first, std::size_t n) {
  double s = 0;
  for (std::size_t i = first; i < first + n; ++i) s += v[i] / double(n);
  for (std::size_t i = first + n; i < v.size(); ++i) s = (s * double(n - 1) + v[i]) / double(n);
  return s;
}

class RealStockIndicators : public ::testing::Test {
 protected:
  void SetUp() override { df = quorvel::testing::bundled_bars("bars/a/sh.600519.csv"); }
  BarTable df;
};

// Periods, seeds, smoothing and band widths: each column against its definition at the warm-up
// boundary and on the last row of a real daily series.
TEST_F(RealStockIndicators, ColumnsFollowTheirDefinitions) {
  technical::set_ema(df);
  technical::set_macd(df);
  technical::set_rsi(df, 14);
  technical::set_boll(df);
  technical::set_volume(df);
  const Series &c = df.column("close"), &h = df.column("high"), &l = df.column("low"), &v = df.column("volume");
  const std::size_t last = df.rows() - 1;
  const auto near = [](double got, double want) { EXPECT_NEAR(got, want, 1e-9 * std::max(1.0, std::abs(want))); };
  for (std::size_t span : {5, 10, 20, 60, 120}) {
    const Series want = ema_by_hand(c, span), &got = df.column("EMA_" + std::to_string(span));
    EXPECT_TRUE(std::isnan(got[span - 2])) << span;
    near(got[span - 1], want[span - 1]);
    near(got[last], want[last]);
  }
  // MACD: EMA12 - EMA26 (the seeds have long faded), its 9-bar EMA, and the difference of the two.
  EXPECT_NEAR(df.last("MACD"), ema_by_hand(c, 12)[last] - ema_by_hand(c, 26)[last], 1e-6);
  near(df.last("MACD_hist"), df.last("MACD") - df.last("MACD_signal"));
  const Series& dif = df.column("MACD");
  EXPECT_NEAR(df.last("MACD_signal"), ema_by_hand(Series(dif.begin() + 33, dif.end()), 9).back(), 1e-6);
  // RSI: Wilder-smoothed gains over Wilder-smoothed gains plus losses.
  Series gain(c.size(), 0), loss(c.size(), 0);
  for (std::size_t i = 1; i < c.size(); ++i) (c[i] > c[i - 1] ? gain[i] : loss[i]) = std::abs(c[i] - c[i - 1]);
  for (auto [name, n] : {std::pair{"RSI", 14}, {"RSI_6", 6}, {"RSI_24", 24}}) {
    const double g = wilder_last(gain, 1, std::size_t(n)), d = wilder_last(loss, 1, std::size_t(n));
    near(df.column(name)[last], 100 * g / (g + d));
    EXPECT_TRUE(std::isnan(df.column(name)[std::size_t(n) - 1])) << name;
  }
  // Bollinger: the 20-bar mean, two population standard deviations either side.
  double mean = 0, ss = 0;
  for (std::size_t i = last - 19; i <= last; ++i) mean += c[i] / 20;
  for (std::size_t i = last - 19; i <= last; ++i) ss += (c[i] - mean) * (c[i] - mean);
  near(df.last("middle_band"), mean);
  near(df.last("upper_band") - mean, 2 * std::sqrt(ss / 20));
  near(mean - df.last("lower_band"), 2 * std::sqrt(ss / 20));
  // ATR(14): Wilder-smoothed true range from the second bar; Volume_MA: the 5-bar mean volume.
  Series tr(c.size(), 0);
  for (std::size_t i = 1; i < c.size(); ++i)
    tr[i] = std::max({h[i] - l[i], std::abs(h[i] - c[i - 1]), std::abs(l[i] - c[i - 1])});
  near(df.last("ATR"), wilder_last(tr, 1, 14));
  near(df.last("Volume_MA"), (v[last] + v[last - 1] + v[last - 2] + v[last - 3] + v[last - 4]) / 5);
}

TEST_F(RealStockIndicators, VolumeRatioVolatilityAndKdjFollowTheirDefinitions) {
  technical::set_volume(df);
  technical::set_kdj(df);
  const Series& v = df.column("volume");
  const Series& c = df.column("close");
  const std::size_t i = df.rows() - 1;
  EXPECT_DOUBLE_EQ(df.column("Volume_Ratio")[i], v[i] / ((v[i - 1] + v[i - 2] + v[i - 3] + v[i - 4] + v[i - 5]) / 5));
  EXPECT_TRUE(std::isnan(df.column("Volume_Ratio")[4]));
  EXPECT_FALSE(std::isnan(df.column("Volume_Ratio")[5]));
  double mean = 0, ss = 0;
  Series r;
  for (std::size_t k = i - 19; k <= i; ++k) r.push_back(c[k] / c[k - 1] - 1);
  for (double x : r) mean += x / 20;
  for (double x : r) ss += (x - mean) * (x - mean);
  EXPECT_NEAR(df.column("Volatility")[i], std::sqrt(ss / 19) * 100, 1e-9);
  EXPECT_TRUE(std::isnan(df.column("Volatility")[19]));
  EXPECT_FALSE(std::isnan(df.column("Volatility")[20]));
  // KDJ: first bar starts from 50; J = 3K - 2D throughout.
  const double h0 = df.column("high")[0], l0 = df.column("low")[0];
  const double rsv0 = (c[0] - l0) / (h0 - l0) * 100;
  EXPECT_NEAR(df.column("K")[0], 50 * 2.0 / 3 + rsv0 / 3, 1e-12);
  for (std::size_t k : {std::size_t(0), std::size_t(100), i})
    EXPECT_NEAR(df.column("J")[k], 3 * df.column("K")[k] - 2 * df.column("D")[k], 1e-9);
}

TEST(Technical, EmptyAndShortTablesGetNaNColumnsInsteadOfFailing) {
  BarTable empty = BarTable::with_base_columns();
  technical::set_ema(empty);
  technical::set_macd(empty);
  technical::set_rsi(empty, 14);
  technical::set_boll(empty);
  technical::set_volume(empty);
  technical::set_kdj(empty);
  EXPECT_TRUE(empty.has_column("K"));
  EXPECT_EQ(empty.column("EMA_120").size(), 0u);
  BarTable short_table = quorvel::testing::BarsBuilder().series("2023-01-02", 10).build();
  technical::set_ema(short_table);
  technical::set_volume(short_table);
  EXPECT_FALSE(std::isnan(short_table.last("EMA_5")));
  EXPECT_TRUE(std::isnan(short_table.last("EMA_20")));
  EXPECT_TRUE(std::isnan(short_table.last("ATR")));
}

// Adding the first indicator columns may move the table's column storage; the columns must still be
// computed from the table's own closes and volumes (a weekly table starts at full capacity).
TEST(Technical, ColumnsAddedToAFreshTableUseItsOwnPrices) {
  const BarTable daily = quorvel::testing::bundled_bars("bars/a/sh.600519.csv");
  BarTable weekly = quorvel::testing::FakeMarketData().generate_weekly_tarnel(daily);
  const Series close = weekly.column("close"), volume = weekly.column("volume");
  technical::set_ema(weekly);
  technical::set_rsi(weekly, 14);
  technical::set_volume(weekly);
  const std::size_t last = close.size() - 1;
  EXPECT_DOUBLE_EQ(weekly.column("EMA_120")[last], talib::ema(close, 120)[last]);
  EXPECT_DOUBLE_EQ(weekly.column("RSI_24")[last], talib::rsi(close, 24)[last]);
  EXPECT_DOUBLE_EQ(weekly.last("Volume_Ratio"), volume[last] / ((volume[last - 5] + volume[last - 4] + volume[last - 3] +
                                                                   volume[last - 2] + volume[last - 1]) / 5.0));
}

}  // namespace
}  // namespace tarnel
