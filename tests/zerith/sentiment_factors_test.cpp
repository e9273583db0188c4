#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "support/fake_market_data.h"
#include "zerith/sentiment_factors.h"

namespace zerith {
namespace {

using quorvel::testing::BarsBuilder;
using quorvel::testing::bundled_bars;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

double largest_move(const tarnel::BarTable& t) {
  const auto& c = t.column("close");
  double worst = 0;
  for (std::size_t i = 1; i < c.size(); ++i) worst = std::max(worst, std::abs(c[i] / c[i - 1] - 1.0));
  return worst;
}

std::size_t row_of(const tarnel::BarTable& t, const std::string& date) {
  for (std::size_t i = 0; i < t.rows(); ++i)
    if (t.date_at(i) == date) return i;
  ADD_FAILURE() << "no row " << date;
  return 0;
}

TEST(RepairPriceJumps, SplitsOfRealEtfsAreRepairedAndLimitMovesKept) {
  const struct {
    const char* file;
    const char* event;  // the day whose move is a corporate action
  } rows[] = {{"bars/etf/159928.csv", "2021-06-25"}, {"bars/etf/512690.csv", "2021-05-17"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    const tarnel::BarTable raw = bundled_bars(row.file);
    ASSERT_GT(largest_move(raw), 0.25);
    const tarnel::BarTable fixed = repair_price_jumps(raw);
    EXPECT_LE(largest_move(fixed), 0.21);
    EXPECT_EQ(fixed.last("close"), raw.last("close"));  // the present is never rescaled
    const std::size_t i = row_of(raw, row.event);
    EXPECT_LT(std::abs(fixed.at("open", i) / fixed.at("close", i - 1) - 1.0), 0.01);
    // Turnover in shares grows by the split ratio before the event.
    EXPECT_GT(fixed.at("volume", i - 1), raw.at("volume", i - 1) * 1.9);
  }
  // 588000 rose the full 20% limit on 2024-09-30: a real move, left alone.
  const tarnel::BarTable star = bundled_bars("bars/etf/588000.csv");
  EXPECT_EQ(repair_price_jumps(star), star);
}

TEST(EtfFeatures, SyntheticTrendsGiveTheExpectedSigns) {
  SentimentParams p;
  p.ma = 3, p.momentum = 2, p.turnover_short = 2, p.turnover_long = 4, p.volatility = 3, p.position = 4;
  BarsBuilder up;
  const double closes[] = {10, 11, 12, 13, 14, 15, 16};
  const double volumes[] = {100, 100, 100, 100, 100, 300, 300};
  for (int i = 0; i < 7; ++i)
    up.day("2023-02-0" + std::to_string(i + 1), closes[i] - 0.5, closes[i], closes[i] - 1, closes[i], volumes[i],
           closes[i] * volumes[i]);
  const EtfFeatures f = compute_etf_features(up.build(), p);
  EXPECT_TRUE(std::isnan(f.above_ma[1]));  // warm-up
  EXPECT_EQ(f.above_ma[6], 1.0);
  EXPECT_TRUE(std::isnan(f.momentum[1]));
  EXPECT_DOUBLE_EQ(f.momentum[6], 16.0 / 14.0 - 1.0);
  EXPECT_TRUE(std::isnan(f.turnover[2]));
  EXPECT_DOUBLE_EQ(f.turnover[6], std::log((15.0 * 300 + 16.0 * 300) / 2 / ((13.0 * 100 + 14.0 * 100 + 15.0 * 300 + 16.0 * 300) / 4)));
  EXPECT_GT(f.volatility[6], 0.0);
  EXPECT_DOUBLE_EQ(f.position[6], 1.0);  // closes at the top of its range
  EXPECT_DOUBLE_EQ(f.position[3], (13.0 - 9.0) / (13.0 - 9.0));
}

TEST(Percentile, MidRankOverTheTrailingWindow) {
  const std::vector<double> s = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const struct {
    std::size_t at;
    int window;
    int min_valid;
    double want;
  } rows[] = {
      {9, 10, 1, 95.0},   // highest of ten
      {0, 10, 1, 50.0},   // alone
      {9, 4, 1, 87.5},    // only 7..10 count
      {4, 10, 6, NaN},    // five values, six needed
      {4, 10, 5, 90.0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.at);
    const double got = percentile_rank(s, row.at, row.window, row.min_valid);
    if (std::isnan(row.want)) EXPECT_TRUE(std::isnan(got));
    else EXPECT_DOUBLE_EQ(got, row.want);
  }
  const std::vector<double> gaps = {5, NaN, 5, 1, NaN};
  EXPECT_DOUBLE_EQ(percentile_rank(gaps, 2, 5, 1), 50.0);  // tie counts half, NaN skipped
  EXPECT_TRUE(std::isnan(percentile_rank(gaps, 4, 5, 1)));
}

TEST(Temperature, WeightsAndTheSignOfVolatility) {
  using P = std::array<double, FACTOR_COUNT>;
  const struct {
    P pct;  // breadth, momentum, turnover, volatility, positioning
    double want;
  } rows[] = {
      {{50, 50, 50, 50, 50}, 50.0},
      {{100, 100, 100, 100, 100}, 100.0},
      {{0, 0, 0, 100, 0}, 0.0},        // crash with extreme volatility: the floor
      {{0, 0, 0, 0, 0}, 10.0},         // a quiet decline is not a panic (volatility' = 100)
      {{100, 0, 50, 50, 50}, 50.0},    // breadth and momentum weigh 0.25 each
      {{50, 100, 50, 0, 50}, 57.5},    // calm rise: low volatility cools (volatility' = 0)
      {{50, 0, 50, 100, 50}, 32.5},    // volatile fall chills (volatility' = 0)
      {{50, 100, 50, 100, 50}, 67.5},  // volatile rise heats (volatility' = 100)
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.want);
    EXPECT_NEAR(compose_temperature(row.pct), row.want, 1e-9);
  }
}

TEST(Temperature, StateBandsDirectionAndConfidence) {
  const struct {
    double t;
    const char* state;
  } bands[] = {{0, "ICE_COLD"},  {15, "ICE_COLD"}, {15.1, "COLD"},  {35, "COLD"},      {35.1, "NEUTRAL"},
               {64.9, "NEUTRAL"}, {65, "HOT"},     {84.9, "HOT"},   {85, "OVERHEAT"}, {100, "OVERHEAT"}};
  for (const auto& b : bands) {
    SCOPED_TRACE(b.t);
    EXPECT_EQ(sentiment_state(b.t), b.state);
  }
  EXPECT_THROW(sentiment_state(NaN), quorvel::ValueError);
  EXPECT_EQ(sentiment_direction(5.0, 5.0), "warming");
  EXPECT_EQ(sentiment_direction(-5.0, 5.0), "cooling");
  EXPECT_EQ(sentiment_direction(4.9, 5.0), "flat");
  EXPECT_EQ(sentiment_direction(NaN, 5.0), "flat");
  EXPECT_EQ(sentiment_confidence(0, 1, 1), 0.0);
  EXPECT_NEAR(sentiment_confidence(15, 1, 1), 0.75, 1e-12);
  EXPECT_LT(sentiment_confidence(15, 0.2, 1), sentiment_confidence(15, 0.9, 1));
  EXPECT_LT(sentiment_confidence(15, 1, 0.1), sentiment_confidence(15, 1, 1));
  EXPECT_LT(sentiment_confidence(4, 1, 1), sentiment_confidence(40, 1, 1));
  EXPECT_THROW(sentiment_params("M"), quorvel::ValueError);
  EXPECT_LT(sentiment_params("W").history, sentiment_params("D").history);
}

TEST(FactorSeries, WeeklyPointsGatherEtfsWhoseWeeksEndOnDifferentDays) {
  SentimentParams p;
  p.ma = 1, p.min_names = 2;
  // One fund misses the Friday session: its weekly bar is labelled Thursday, still the same week.
  const auto b = BarsBuilder().day("2023-02-09", 1, 1, 1, 1, 10).build();
  const auto one_point = build_factor_series({BarsBuilder().day("2023-02-10", 1, 1, 1, 1, 10).build(), b}, p, true);
  ASSERT_EQ(one_point.size(), 1u);
  EXPECT_EQ(tarnel::date_text(one_point.dates[0]), "2023-02-10");
  EXPECT_EQ(one_point.names[0], 2);
  EXPECT_EQ(one_point.values[BREADTH][0], 0.0);  // close equals its one-bar mean: not above
  const auto daily = build_factor_series({BarsBuilder().day("2023-02-10", 1, 1, 1, 1, 10).build(), b}, p, false);
  EXPECT_EQ(daily.size(), 2u);
  EXPECT_TRUE(std::isnan(daily.values[BREADTH][0]));  // one fund alone is below min_names
}

}  // namespace
}  // namespace zerith
