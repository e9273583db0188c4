#include <cmath>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "quorvel/agent/solvara/index_performance.h"
#include "support/fake_market_data.h"

namespace quorvel::agent::solvara {
namespace {

tarnel::BarTable closes(std::initializer_list<double> values, double volume = 100) {
  testing::BarsBuilder b;
  int day = 2;
  for (double c : values) {
    b.day(fmt::format("2023-01-{:02d}", day), c, c * 1.01, c * 0.99, c, volume);
    day += 1;
  }
  return b.build();
}

// A valid record with chosen fields, for verdict rules.
IndexPerformance perf(double pct, double close, double e5, double e20, double e60, double ratio = 1.0,
                      double amp_avg20 = 0.0) {
  IndexPerformance p;
  p.valid = true;
  p.pct_val = pct;
  p.pct = signed_percent(pct);
  p.ratio_val = ratio;
  p.ratio = fmt::format("{:.2f}", ratio);
  p.close = close;
  p.ema5 = e5;
  p.ema20 = e20;
  p.ema60 = e60;
  p.ema_bull = e5 > e20 && e20 > e60;
  p.ema_bear = e5 < e20 && e20 < e60;
  p.amp_avg20 = amp_avg20;
  return p;
}

TEST(IndexPerformance, TooLittleDataAndTheTwoRowMinimum) {
  EXPECT_FALSE(_calculate_index_performance(std::nullopt).valid);
  const auto one = _calculate_index_performance(closes({10}));
  EXPECT_FALSE(one.valid);
  EXPECT_EQ(one.pct, "—");
  EXPECT_EQ(one.trend, "数据不足");
  const auto two = _calculate_index_performance(closes({10, 11}));
  ASSERT_TRUE(two.valid);
  EXPECT_EQ(two.pct, "+10.00%");
  EXPECT_EQ(two.ratio, "1.00");
  EXPECT_NEAR(two.ema5, 10 + (11 - 10) * 2.0 / 6.0, 1e-12);
  EXPECT_NEAR(two.amp_avg20, 0.0, 1e-12);  // only the first bar came before, and it has no amplitude
  EXPECT_NEAR(two.amp_today, (11 * 1.01 - 11 * 0.99) / 10 * 100, 1e-9);
}

TEST(IndexPerformance, ZeroPreviousCloseMissingVolumesAndZeroEma) {
  auto t = closes({0, 0});
  t.column("volume") = {std::nan(""), 0};
  const auto p = _calculate_index_performance(t);
  EXPECT_EQ(p.pct, "+0.00%");
  EXPECT_EQ(p.ratio, "1.00");
  EXPECT_EQ(p.ma_fact, "收盘已站上 EMA20。收盘 0.00；vs EMA5 0.00（—）、vs EMA20 0.00（—）、vs EMA60 0.00（—）");
  auto no_volume = closes({1, 2});
  no_volume = no_volume.tail(2);
  tarnel::BarTable bare;
  bare.append_row(no_volume.index()[0], {});
  bare.append_row(no_volume.index()[1], {});
  bare.set_column("close", {1, 2});
  EXPECT_THROW(_calculate_index_performance(bare), std::exception);
}

TEST(IndexPerformance, CloseEqualToEma20IsPressedButAbove) {
  const auto p = _calculate_index_performance(closes({10, 10, 10}));
  EXPECT_EQ(p.trend, "EMA20 压制");
  EXPECT_EQ(p.ma_fact.rfind("收盘已站上 EMA20", 0), 0u);
  EXPECT_NE(p.ma_fact.find("上方+0.00%"), std::string::npos);
  EXPECT_NE(_compute_market_verdict({p}).rationale.find("收盘≥EMA20"), std::string::npos);
}

TEST(IndexPerformance, TrendLabelsOfARisingAndAFallingIndex) {
  std::vector<double> up, down;
  for (int i = 0; i < 80; ++i) {
    up.push_back(100 + i);
    down.push_back(200 - i);
  }
  auto make = [](const std::vector<double>& v) {
    testing::BarsBuilder b;
    b.series("2022-01-03", int(v.size()));
    auto t = b.build();
    t.column("close") = v;
    return _calculate_index_performance(t);
  };
  const auto rising = make(up);
  EXPECT_EQ(rising.trend, "EMA5/20/60 多头");
  EXPECT_TRUE(rising.ema_bull);
  const auto falling = make(down);
  EXPECT_EQ(falling.trend, "EMA5/20/60 空头");
  EXPECT_EQ(falling.ma_fact.rfind("收盘仍在 EMA20 下方。收盘 121.00；vs EMA5 ", 0), 0u);
  EXPECT_NE(falling.ma_fact.find("（下方-"), std::string::npos);
  up.back() = 150;  // a sharp drop below EMA20 with the averages still stacked up
  EXPECT_EQ(make(up).trend, "EMA5/20/60 多头（收盘跌破EMA20）");
}

TEST(MarketVerdict, BiasRulesInOrder) {
  EXPECT_EQ(_compute_market_verdict({}), (MarketVerdict{"震荡", "弱", "空仓等待", "核心指数数据不足，保守处理"}));
  EXPECT_EQ(_compute_market_verdict({IndexPerformance::failure()}).strategy, "空仓等待");
  // Down 3% with every index down: risk-off even without an amplitude history.
  EXPECT_EQ(_compute_market_verdict({perf(-3, 10, 11, 12, 13), perf(-1, 10, 9, 8, 7)}).bias, "避险");
  // Down 1% against an average amplitude of 0.5%: 1 > 0.75.
  EXPECT_EQ(_compute_market_verdict({perf(-1, 12, 11, 10, 9, 1.0, 0.5)}).bias, "避险");
  EXPECT_EQ(_compute_market_verdict({perf(0.2, 9, 9.5, 10, 11)}).bias, "偏空");
  EXPECT_EQ(_compute_market_verdict({perf(0.2, 11, 10.5, 10, 9)}).bias, "偏多");
  EXPECT_EQ(_compute_market_verdict({perf(0.2, 11, 9.5, 10, 9)}).bias, "震荡");
}

TEST(MarketVerdict, StrengthScoreAndStrategyTable) {
  // Four hits with a bearish bias: strong, and still no position.
  const auto strong = _compute_market_verdict({perf(-1.6, 9, 9.5, 10, 11, 1.6), perf(-0.5, 1, 1, 1, 1)});
  EXPECT_EQ(strong.bias, "偏空");
  EXPECT_EQ(strong.strength, "强");
  EXPECT_EQ(strong.strategy, "空仓等待");
  EXPECT_EQ(strong.rationale, "第一指数 -1.60%、量比 1.60、收盘<EMA20；强度命中 4/4 项");
  // One hit with a bullish bias: weak, range trading.
  const auto weak = _compute_market_verdict({perf(0.5, 11, 10.5, 10, 10.5)});
  EXPECT_EQ(weak.bias, "偏多");
  EXPECT_EQ(weak.strength, "弱");
  EXPECT_EQ(weak.strategy, "区间震荡");
  EXPECT_NE(weak.rationale.find("0/4"), std::string::npos);  // a single index never scores agreement
  // An invalid first record: the first valid one leads and is also the comparison index.
  const auto shifted = _compute_market_verdict({IndexPerformance::failure(), perf(0.5, 11, 10.5, 10, 10.5)});
  EXPECT_NE(shifted.rationale.find("1/4"), std::string::npos);
  EXPECT_EQ(detail::STRATEGY_TABLE("偏多", "中"), "趋势跟随");
  EXPECT_EQ(detail::STRATEGY_TABLE("震荡", "强"), "区间震荡");
}

}  // namespace
}  // namespace quorvel::agent::solvara
