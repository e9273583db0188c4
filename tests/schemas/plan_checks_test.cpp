// The check of a buy plan against the limits the model was given and the market's rules.
#include <functional>

#include <gtest/gtest.h>

#include "quorvel/agent/schemas/plan_checks.h"

namespace quorvel::agent::schemas {
namespace {

using Json = nlohmann::ordered_json;

// sh.600519 on 2023-02-10: close 1810, ATR 40, next session's band 1629.00 .. 1991.00.
Json pattern_info() {
  return Json{{"price_context", {{"support", 1780.0}, {"low_5d", 1790.0}}},
              {"classic_pivot_points", {{"R3", 1999.43}}},
              {"calculated_constraints", {{"min_rrr", 1.5}, {"max_stop_dist_atr", 1.2}, {"max_position_pct", 10}}},
              {"trading_rules",
               {{"effective_max_position_pct", 10.0}, {"limit_up", 1991.0}, {"limit_down", 1629.0}, {"atr", 40.0}}}};
}

StockDecision buy() {
  StockDecision d;
  d.direction = "看多";
  d.action = "建议买入";
  d.strategy_mode = "趋势跟随";
  d.entry_price_low = 1795;
  d.entry_price_high = 1805;
  d.stop_loss = 1758;  // 1.175 ATR under the entry high, 0.55 ATR under the support
  d.target_1 = 1930;
  d.target_2 = 1990;
  d.position_pct = "10%";
  return d;
}

TEST(PlanChecks, EachRuleFailsOnlyOnItsOwnBreach) {
  const struct {
    const char* name;
    std::function<void(StockDecision&, Json&)> change;
    std::vector<std::string> failed;  // names, in check order
  } rows[] = {
      {"a sound plan", [](StockDecision&, Json&) {}, {}},
      {"risk-off day", [](StockDecision&, Json& p) { p["trading_rules"]["effective_max_position_pct"] = 0; },
       {"zero_cap", "position_cap"}},
      {"position over the effective cap", [](StockDecision& d, Json&) { d.position_pct = "10.5%"; }, {"position_cap"}},
      {"a range is held to its upper bound", [](StockDecision& d, Json&) { d.position_pct = "5%-15%"; }, {"position_cap"}},
      {"a size that is not a percentage", [](StockDecision& d, Json&) { d.position_pct = "三成"; }, {"position_cap"}},
      {"a buy the prompt forbids", [](StockDecision& d, Json& p) { d.direction = "看空"; p["trading_rules"]["last_close_at_limit_down"] = true; },
       {"veto"}},
      {"no ATR: the stop distance cannot be verified", [](StockDecision&, Json& p) { p["trading_rules"]["atr"] = nullptr; },
       {"stop_distance"}},
      {"reward/risk from the entry's upper bound", [](StockDecision& d, Json&) { d.target_1 = 1870; }, {"min_rrr"}},
      {"stop under the entry high: no risk at all", [](StockDecision& d, Json&) { d.stop_loss = 1806; },
       {"min_rrr", "stop_buffer"}},
      {"stop too far", [](StockDecision& d, Json&) { d.stop_loss = 1756; d.target_1 = 1990; }, {"stop_distance"}},
      {"entry above the next limit-up", [](StockDecision& d, Json&) { d.entry_price_high = 1991.5; d.target_1 = 2400; d.target_2 = 2500; d.stop_loss = 1950; },
       {"limit_band", "stop_buffer", "target_beyond_r3"}},
      {"stop a tick under the entry low", [](StockDecision& d, Json&) { d.stop_loss = 1790; d.target_1 = 1990; },
       {"stop_buffer"}},
      {"stop inside the support's noise", [](StockDecision&, Json& p) { p["price_context"]["support"] = 1765; },
       {"stop_buffer"}},
      {"a trend stop ignores the 5-day low", [](StockDecision&, Json& p) { p["price_context"]["low_5d"] = 1765; }, {}},
      {"bottom reversal measures from the 5-day low",
       [](StockDecision& d, Json& p) { d.strategy_mode = "底部反转"; p["price_context"]["low_5d"] = 1765; },
       {"stop_buffer"}},
      {"strong buy that is not bullish", [](StockDecision& d, Json&) { d.action = "强烈买入"; d.direction = "中性"; },
       {"strong_buy_direction"}},
      {"target above R3", [](StockDecision& d, Json&) { d.target_2 = 2000; }, {"target_beyond_r3"}},
      {"without the market's rules only the stop distance is missed",
       [](StockDecision& d, Json& p) { p.erase("trading_rules"); d.position_pct = "90%"; }, {"stop_distance"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    StockDecision d = buy();
    Json p = pattern_info();
    row.change(d, p);
    const auto checks = check_plan(d, p);
    std::vector<std::string> failed;
    bool hard = false;
    for (const auto& c : checks)
      if (!c.passed) {
        failed.push_back(c.name);
        hard = hard || c.hard;
      }
    EXPECT_EQ(failed, row.failed);
    EXPECT_EQ(review_required(checks), hard);
    EXPECT_EQ(failed_check_lines(plan_checks_json(checks)).size(), row.failed.size());
  }
  StockDecision wait = buy();
  wait.action = "观望等待";
  EXPECT_TRUE(check_plan(wait, pattern_info()).empty());
}

TEST(PlanChecks, ReportsTheNumbersAndPutsHardFailuresFirst) {
  StockDecision d = buy();
  d.position_pct = "30%";
  d.target_2 = 2010;
  const auto lines = failed_check_lines(check_plan(d, pattern_info()));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "仓位上限（硬性）: position_pct 30 > 有效上限 10");
  EXPECT_EQ(lines[1], "目标价与 R3（提示）: 最高目标 2010 高于 周线经典枢轴 R3 1999.43");
  EXPECT_EQ(position_percent("15.5%"), 15.5);
  EXPECT_EQ(position_percent(" 20 ～ 40% "), 40.0);
  for (const char* unreadable : {"全仓", "约30%", "-10%", "１００%", "NaN%", "3成"})
    EXPECT_FALSE(position_percent(unreadable)) << unreadable;
}

}  // namespace
}  // namespace quorvel::agent::schemas
