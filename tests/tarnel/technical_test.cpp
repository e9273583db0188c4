#include <cmath>

#include <gtest/gtest.h>
#include <ta-lib/ta_libc.h>

#include "support/fake_market_data.h"
#include "tarnel/talib_calls.h"
#include "tarnel/technical.h"

namespace tarnel {
namespace {

using Series = std::vector<double>;

// The library called directly, results placed at their rows.
Series direct(const Series& in, int beg, int nb, const Series& out) {
  Series placed(in.size(), std::nan(""));
  for (int i = 0; i < nb; ++i) placed[std::size_t(beg + i)] = out[std::size_t(i)];
  return placed;
}

void expect_same(const Series& a, const Series& b, const char* what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::isnan(b[i])) {
      ASSERT_TRUE(std::isnan(a[i])) << what << " row " << i;
    } else {
      ASSERT_EQ(a[i], b[i]) << what << " row " << i;
    }
  }
}

class RealStockIndicators : public ::testing::Test {
 protected:
  void SetUp() override {
    TA_Initialize();
    df = quorvel::testing::bundled_bars("bars/a/sh.600519.csv");
    n = int(df.rows());
    out.assign(df.rows(), 0.0);
    out2 = out3 = out;
  }
  BarTable df;
  int n = 0, beg = 0, nb = 0;
  Series out, out2, out3;
};

TEST_F(RealStockIndicators, ColumnsAgreeWithTheLibraryCalledDirectly) {
  const Series& close = df.column("close");
  technical::set_ema(df);
  technical::set_macd(df);
  technical::set_rsi(df, 14);
  technical::set_boll(df);
  technical::set_volume(df);
  for (int span : {5, 10, 20, 60, 120}) {
    TA_EMA(0, n - 1, close.data(), span, &beg, &nb, out.data());
    expect_same(df.column("EMA_" + std::to_string(span)), direct(close, beg, nb, out), "EMA");
  }
  TA_MACD(0, n - 1, close.data(), 12, 26, 9, &beg, &nb, out.data(), out2.data(), out3.data());
  expect_same(df.column("MACD"), direct(close, beg, nb, out), "MACD");
  expect_same(df.column("MACD_signal"), direct(close, beg, nb, out2), "MACD_signal");
  expect_same(df.column("MACD_hist"), direct(close, beg, nb, out3), "MACD_hist");
  for (auto [name, period] : {std::pair{"RSI", 14}, {"RSI_6", 6}, {"RSI_12", 12}, {"RSI_24", 24}}) {
    TA_RSI(0, n - 1, close.data(), period, &beg, &nb, out.data());
    expect_same(df.column(name), direct(close, beg, nb, out), name);
  }
  TA_BBANDS(0, n - 1, close.data(), 20, 2.0, 2.0, TA_MAType_SMA, &beg, &nb, out.data(), out2.data(), out3.data());
  expect_same(df.column("upper_band"), direct(close, beg, nb, out), "upper_band");
  expect_same(df.column("middle_band"), direct(close, beg, nb, out2), "middle_band");
  expect_same(df.column("lower_band"), direct(close, beg, nb, out3), "lower_band");
  TA_ATR(0, n - 1, df.column("high").data(), df.column("low").data(), close.data(), 14, &beg, &nb, out.data());
  expect_same(df.column("ATR"), direct(close, beg, nb, out), "ATR");
  TA_SMA(0, n - 1, df.column("volume").data(), 5, &beg, &nb, out.data());
  expect_same(df.column("Volume_MA"), direct(close, beg, nb, out), "Volume_MA");
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
