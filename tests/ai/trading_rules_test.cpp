// The market rules stated beside the constraints: caps, settlement, limit prices, lot, turnover.
#include "quorvel/strategy/ai/trading_rules.h"

#include <gtest/gtest.h>

#include "contracts/dates.h"

namespace quorvel::strategy::ai {
namespace {

using Json = nlohmann::ordered_json;

// Twenty sessions ending 2023-02-10 at `close`, each with `turnover` traded (amount column when
// `with_amount`, else only volume), ATR 2.
tarnel::BarTable bars(double close, double turnover, bool with_amount = true, const char* last = "2023-02-10",
                      std::size_t rows = 20) {
  tarnel::BarTable t;
  const tarnel::Date end = tarnel::parse_date(last);
  for (std::size_t i = rows; i-- > 0;) t.append_row(end - date::days{i}, {});
  t.set_column("close", std::vector<double>(rows, close));
  t.set_column("volume", std::vector<double>(rows, turnover / close));
  if (with_amount) t.set_column("amount", std::vector<double>(rows, turnover));
  t.set_column("ATR", std::vector<double>(rows, 2.0));
  return t;
}

// The same table whose last session closed 10% under the one before.
tarnel::BarTable sealed_at_limit_down(tarnel::BarTable t) {
  std::vector<double> close = t.column("close");
  close.back() = close[close.size() - 2] * 0.9;
  t.set_column("close", close);
  return t;
}

TEST(TradingRules, EveryLimitOfTheMarketInOnePlace) {
  const Json constraints{{"max_position_pct", 30}};
  const Json normal{{"market_context", {{"vol_regime", "normal_vol"}}}};
  const Json high_vol{{"market_context", {{"vol_regime", "high_vol"}}}};
  const struct {
    const char* name;
    InstrumentFacts inst;
    tarnel::BarTable daily;
    std::string bias;
    Json pattern;
    Json expected;  // the members that matter for the row
  } rows[] = {
      {"main board: ±10% from the last close, 100 shares, T+1",
       {"sh.600519", "贵州茅台", "A", false, std::nullopt}, bars(1810, 5e9), "偏多", normal,
       {{"effective_max_position_pct", 30.0}, {"settlement", "T+1"}, {"limit_up", 1991.0}, {"limit_down", 1629.0},
        {"lot", 100}, {"currency", "CNY"}, {"atr", 2.0}}},
      {"risk-off day: no new position", {"sh.600519", "贵州茅台", "A", false, std::nullopt}, bars(1810, 5e9), "避险",
       normal, {{"effective_max_position_pct", 0.0}, {"position_caps", {{"max_position_pct", 30.0}, {"risk_off", 0}}}}},
      {"high volatility keeps 75%", {"sh.600000", "浦发银行", "A", false, std::nullopt}, bars(7.24, 1e9), "偏多",
       high_vol, {{"effective_max_position_pct", 22.5}, {"limit_up", 7.96}, {"limit_down", 6.52}}},
      {"unknown volatility regime is said so", {"sh.600000", "浦发银行", "A", false, std::nullopt}, bars(7.24, 1e9),
       "偏多", Json::object(), {{"position_caps", {{"max_position_pct", 30.0}, {"high_vol", "unknown"}}}}},
      {"STAR: ±20%, 200 shares minimum", {"sh.688981", "中芯国际", "A", false, std::nullopt}, bars(40.0, 1e9), "偏多",
       normal, {{"limit_band_pct", 20.0}, {"limit_up", 48.0}, {"lot", 200}}},
      {"ST: ±5%", {"sz.000001", "*ST平安", "A", false, std::nullopt}, bars(10.0, 1e9), "偏多", normal,
       {{"limit_band_pct", 5.0}, {"limit_up", 10.5}, {"limit_down", 9.5}, {"last_close_at_limit_down", false}}},
      {"ST on ChiNext keeps ±20%", {"sz.300999", "*ST样本", "A", false, std::nullopt}, bars(10.0, 1e9), "偏多",
       normal, {{"limit_band_pct", 20.0}}},
      {"ChiNext before 2020-08-24 (Friday 08-21: the next session is the first at ±20%)",
       {"sz.300750", "宁德时代", "A", false, std::nullopt}, bars(200, 1e9, true, "2020-08-21"), "偏多", normal,
       {{"limit_band_pct", 20.0}}},
      {"a ChiNext fund before then: ±10%", {"159949", "创业板50ETF", "ETF", true, std::nullopt},
       bars(0.502, 2e8, true, "2019-06-03"), "偏多", normal, {{"limit_band_pct", 10.0}, {"limit_up", 0.552}}},
      {"a new listing's first sessions have no band", {"sh.688981", "中芯国际", "A", false, std::nullopt},
       bars(80, 1e9, true, "2020-07-20", 3), "偏多", normal, {{"limit_up", nullptr}, {"last_close_at_limit_down", nullptr}}},
      {"sealed at limit-down", {"sh.600000", "浦发银行", "A", false, std::nullopt}, sealed_at_limit_down(bars(7.24, 1e9)),
       "偏多", normal, {{"last_close_at_limit_down", true}}},
      {"Hong Kong weak liquidity caps at 20%, lot from the list", {"hk.00700", "腾讯控股", "HK", false, 100},
       bars(300, 3e7, false), "偏多", normal,
       {{"effective_max_position_pct", 20.0}, {"settlement", "T+0"}, {"limit_up", nullptr}, {"lot", 100},
        {"currency", "HKD"}, {"turnover_basis", "close×volume"}, {"liquidity_tier", "偏弱"}}},
      {"Hong Kong penny range: no buy, lot unknown", {"hk.01113", "长实集团", "HK", false, std::nullopt},
       bars(1.0, 5e6, false), "偏多", normal,
       {{"effective_max_position_pct", 0.0}, {"lot", "unknown"}, {"liquidity_tier", "仙股"}}},
      {"US: no band, event cap unknown", {"us.AAPL", "苹果", "US", false, std::nullopt}, bars(130, 1e10, false),
       "偏多", normal,
       {{"position_caps", {{"max_position_pct", 30.0}, {"event", "unknown"}}}, {"lot", 1}, {"currency", "USD"}}},
      {"broad fund: T+1, band assumed ±10%, 3-decimal prices", {"510050", "上证50ETF", "ETF", true, std::nullopt},
       bars(2.783, 5e7), "偏多", normal,
       {{"effective_max_position_pct", 20.0}, {"settlement", "T+1"}, {"limit_up", 3.061}, {"limit_down", 2.505},
        {"liquidity_tier", "一般"}}},
      {"ChiNext fund by its name: ±20%", {"159949", "创业板50ETF", "ETF", true, std::nullopt}, bars(1.118, 1e7),
       "偏多", normal, {{"effective_max_position_pct", 10.0}, {"limit_band_pct", 20.0}, {"liquidity_tier", "差"}}},
      {"cross-border fund: T+0", {"513050", "中概互联网ETF", "ETF", true, std::nullopt}, bars(1.2, 2e8), "偏多",
       normal, {{"settlement", "T+0"}, {"effective_max_position_pct", 30.0}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Json rules = trading_rules(row.inst, row.daily, row.bias, constraints, row.pattern);
    for (const auto& [key, value] : row.expected.items()) EXPECT_EQ(rules[key], value) << key << ": " << rules.dump();
  }
  const Json fund = trading_rules({"510050", "上证50ETF", "ETF", true, std::nullopt}, bars(2.783, 5e7), "偏多",
                                  constraints, normal);
  EXPECT_EQ(fund["assumed"].size(), 1u);  // the band; the category 宽基 names an equity fund
}

}  // namespace
}  // namespace quorvel::strategy::ai
