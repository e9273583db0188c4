// The check of an extracted decision against the instrument it is for.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "quorvel/agent/schemas/plausibility.h"

namespace quorvel::agent::schemas {
namespace {

StockDecision buy() {
  StockDecision d;
  d.stock_code = "sh.600000";
  d.analysis_time = "2023-02-10";
  d.current_price = 7.24;
  d.direction = "看多";
  d.action = "建议买入";
  d.entry_price_low = 7.1;
  d.entry_price_high = 7.2;
  d.stop_loss = 6.9;
  d.target_1 = 7.6;
  d.target_2 = 7.9;
  d.rrr = 1.3;
  d.rrr_max = 2.3;
  return d;
}

StockDecision wait(const char* holder, double stop, double target) {
  StockDecision d = buy();
  d.action = "观望等待";
  d.direction = "中性";
  d.holder_action = holder;
  d.entry_price_low = d.entry_price_high = d.target_2 = d.rrr = d.rrr_max = 0;
  d.stop_loss = stop;
  d.target_1 = target;
  return d;
}

TEST(Plausibility, PricesWhereTheActionNeedsThemAndNoImpossibleValue) {
  const struct {
    const char* what;
    StockDecision decision;
    const char* refusal;  // fragment of the reason; empty when the plan passes
  } rows[] = {
      {"an ordinary buy", buy(), ""},
      {"a buy at negative prices",
       [] {
         StockDecision d = buy();
         d.entry_price_low = -1, d.entry_price_high = -0.5, d.stop_loss = -5, d.target_1 = -0.1, d.target_2 = 0.05;
         return d;
       }(),
       "需要正的 entry_price_low"},
      {"a buy without a second target", [] { StockDecision d = buy(); d.target_2 = 0; return d; }(), "需要正的 target_2"},
      {"a target at 1e300", [] { StockDecision d = buy(); d.target_2 = 1e300; return d; }(), "target_2=1e+300 超过收盘价"},
      {"reward/risk of 1e300", [] { StockDecision d = buy(); d.rrr_max = 1e300; return d; }(), "rrr_max=1e+300 超过 100"},
      {"reward/risk of exactly 100", [] { StockDecision d = buy(); d.rrr = 100; return d; }(), ""},
      {"an infinite support", [] { StockDecision d = buy(); d.support_price = std::numeric_limits<double>::infinity(); return d; }(), "support_price 不是有限数值"},
      {"a negative resistance", [] { StockDecision d = buy(); d.resistance_price = -3; return d; }(), "为负数"},
      {"a holder keeping without a stop", wait("继续持有", 0, 7.6), "需要正的 stop_loss"},
      {"a holder trimming without a target", wait("分批减仓", 6.9, 0), "需要正的 target_1"},
      {"a holder keeping with stop and target", wait("继续持有", 6.9, 7.6), ""},
      {"a holder closing out with zeros", wait("清仓离场", 0, 0), ""},
      // About the analysed instrument and day.
      {"the code written exchange-last", [] { StockDecision d = buy(); d.stock_code = "600000.SH"; return d; }(), ""},
      {"another instrument's decision", [] { StockDecision d = buy(); d.stock_code = "sh.600519"; return d; }(),
       "stock_code=sh.600519 不是所分析的标的 sh.600000"},
      {"another day's decision", [] { StockDecision d = buy(); d.analysis_time = "2023-02-09"; return d; }(),
       "analysis_time=2023-02-09 不是分析日期 2023-02-10"},
      {"a price 0.4% off the close", [] { StockDecision d = buy(); d.current_price = 7.27; return d; }(), ""},
      {"a price 1% off the close", [] { StockDecision d = buy(); d.current_price = 7.31; return d; }(),
       "current_price=7.31 与分析日收盘价 7.24"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const auto why = implausible_decision(row.decision, {"sh.600000", "2023-02-10", 7.24});
    if (*row.refusal == '\0') {
      EXPECT_FALSE(why.has_value()) << *why;
    } else {
      ASSERT_TRUE(why.has_value());
      EXPECT_NE(why->find(row.refusal), std::string::npos) << *why;
    }
  }
  // Without a known close only the close-relative bound is off.
  StockDecision far = buy();
  far.target_2 = 1e6;
  EXPECT_FALSE(implausible_decision(far, {"sh.600000", "2023-02-10", std::nan("")}).has_value());
}

}  // namespace
}  // namespace quorvel::agent::schemas
