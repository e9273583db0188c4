// Plans scored on 贵州茅台's real daily bars (data/bars/a/sh.600519.csv, unadjusted), every
// expectation worked out by hand from the rows quoted (date open high low close):
//   2023-02-01 1854.98 1859.00 1811.40 1844.97    2023-03-22 1780.00 1793.00 1765.55 1773.35
//   2023-02-02 1848.38 1859.00 1826.00 1836.11    2023-03-23 1766.00 1791.11 1765.01 1774.86
//   2023-02-03 1820.00 1826.00 1795.68 1818.00    2023-03-24 1769.08 1783.60 1766.00 1778.62
//   2023-02-06 1780.00 1795.00 1760.00 1795.00    2023-03-27 1778.60 1778.60 1756.00 1767.79
//   2023-02-10 1810.10 1818.49 1801.05 1810.00    2023-03-28 1770.00 1790.00 1765.02 1781.80
//   2023-02-13 1810.00 1874.50 1810.00 1856.35    2023-03-29 1799.00 1800.00 1785.07 1790.00
//   2023-02-14 1856.46 1857.40 1835.00 1843.79    2023-03-30 1793.00 1805.00 1779.00 1800.00
//   2023-02-15 1843.78 1855.30 1835.81 1841.00
//   2023-02-16 1841.34 1887.00 1828.00 1861.82
//   2023-02-17 1850.16 1873.00 1820.05 1820.78    2023-02-20 1821.00 1878.80 1817.20 1875.00
//   2023-02-24 close 1788.00 (10 sessions after 2023-02-10)
#include "quorvel/ledger/plan_score.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "support/decision_replies.h"
#include "support/fake_market_data.h"
#include "contracts/dates.h"
#include "quorvel/ta/talib_calls.h"

namespace quorvel::ledger {
namespace {

using Json = nlohmann::ordered_json;
constexpr double NONE = std::numeric_limits<double>::quiet_NaN();

const tarnel::BarTable& moutai() {
  static const tarnel::BarTable bars = [] {
    tarnel::BarTable t = testing::bundled_bars("bars/a/sh.600519.csv");
    t.set_column("ATR", quorvel::ta::talib::atr(t.column("high"), t.column("low"), t.column("close"), 14));
    return t;
  }();
  return bars;
}

Json buy(double entry_high, double stop, double target_1, double target_2) {
  return testing::buy_decision({{"entry_price_low", entry_high - 10},
                                {"entry_price_high", entry_high},
                                {"stop_loss", stop},
                                {"target_1", target_1},
                                {"target_2", target_2},
                                {"holding_period", "5个交易日"}});
}

TEST(PlanScore, BuysFillThenMeetStopTargetOrHorizon) {
  struct Row {
    const char* what;
    const char* date;
    Json decision;
    bool t_plus_one;
    bool atr;
    const char* outcome;
    const char* fill_date;
    double fill;
    const char* exit_date;
    double exit;
    double r, mae, mfe;
    bool target_2;
    double baseline_r;
  };
  const Row rows[] = {
      // 02-13 opens 1810 <= 1815: filled at the open; its high 1874.5 passes 1870 but a T+1 share cannot
      // leave that day, so the MFE is (1874.5-1810)/30. 02-16 reaches 1887: target 1, and 1885 too.
      // Baseline: 1810 open, stop 1775, target 1865, also met 02-16: 55/35.
      {"target_1", "2023-02-10", buy(1815, 1780, 1870, 1885), true, true, "target_1", "2023-02-13", 1810, "2023-02-16",
       1870, 2.0, 0.0, 64.5 / 30, true, 55.0 / 35},
      // Filled 02-17 at 1850 inside the session (opened 1850.16). 02-20 touches 1817.2 <= 1818 and
      // 1878.8 >= 1875: the stop counts. The fill day's high is not counted; MFE 0.
      // Baseline: 1850.16 open, stop 1818.16, also hit 02-20.
      {"stop and target in one session", "2023-02-16", buy(1850, 1818, 1875, 1900), true, true, "stop", "2023-02-17",
       1850, "2023-02-20", 1818, -1.0, -1.0, 0.0, false, -1.0},
      // Filled 02-02 at 1830 (low 1826, close 1836.11); 02-03 holds above 1790 (low 1795.68); 02-06 opens
      // 1780 under the stop and leaves there: -50/40. Baseline stop 1808.38 is hit 02-03.
      {"gap through the stop", "2023-02-01", buy(1830, 1790, 1900, 1950), true, true, "stop", "2023-02-02", 1830,
       "2023-02-06", 1780, -1.25, -1.25, 6.11 / 40, false, -1.0},
      // Filled 02-03 at its open 1820; its low 1795.68 touches the stop but a T+1 share is held overnight;
      // 02-06 opens 1780 and leaves there: -40/20, MFE from the 02-03 high 1826. Baseline stop 1798 (-40/22).
      {"T+1 fill session touching the stop", "2023-02-02", buy(1822, 1800, 1860, 1900), true, true, "stop",
       "2023-02-03", 1820, "2023-02-06", 1780, -2.0, -2.0, 6.0 / 20, false, -40.0 / 22},
      {"T+0 leaves on the fill session", "2023-02-02", buy(1822, 1800, 1860, 1900), false, true, "stop", "2023-02-03",
       1820, "2023-02-03", 1800, -1.0, -1.0, 0.0, false, -1.0},
      // Filled 03-23 at its open 1766; lows stay over 1740 (lowest 1756 on 03-27), highs under 1830
      // (highest 1805 on 03-30): out at the 03-30 close 1800, 34/26. Baseline (stop 1731, target 1821):
      // the same exit, 34/35.
      {"horizon", "2023-03-22", buy(1775, 1740, 1830, 1900), true, true, "horizon", "2023-03-23", 1766, "2023-03-30",
       1800, 34.0 / 26, -10.0 / 26, 39.0 / 26, false, 34.0 / 35},
      {"no ATR, no baseline", "2023-03-22", buy(1775, 1740, 1830, 1900), true, false, "horizon", "2023-03-23", 1766,
       "2023-03-30", 1800, 34.0 / 26, -10.0 / 26, 39.0 / 26, false, NONE},
      // Entry high 1805 against lows 1810, 1835, 1835.81: never filled. Baseline (10 sessions assumed):
      // 1810 open, stop 1755, target 1885 reached 02-16: 75/55.
      {"not_filled", "2023-02-10", testing::buy_decision(), true, true, "not_filled", "", 0, "", 0, 0, 0, 0, false,
       75.0 / 55},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const tarnel::BarTable bars = row.atr ? moutai() : testing::bundled_bars("bars/a/sh.600519.csv");
    const PlanScore s = score_plan({"sh.600519", row.date, row.decision, row.t_plus_one, -1}, bars);
    EXPECT_EQ(s.status, "scored") << s.reason;
    EXPECT_EQ(s.outcome, row.outcome);
    EXPECT_EQ(s.fill_date, row.fill_date);
    EXPECT_DOUBLE_EQ(s.fill_price, row.fill);
    EXPECT_EQ(s.exit_date, row.exit_date);
    EXPECT_DOUBLE_EQ(s.exit_price, row.exit);
    EXPECT_NEAR(s.r_multiple, row.r, 1e-9);
    EXPECT_NEAR(s.mae_r, row.mae, 1e-9);
    EXPECT_NEAR(s.mfe_r, row.mfe, 1e-9);
    EXPECT_EQ(s.target_2_reached, row.target_2);
    if (row.fill > 0) {
      EXPECT_NEAR(s.return_pct, (row.exit / row.fill - 1) * 100, 1e-9);
    }
    EXPECT_EQ(s.baseline_r.has_value(), !std::isnan(row.baseline_r));
    if (s.baseline_r) {
      EXPECT_NEAR(*s.baseline_r, row.baseline_r, 1e-9);
    }
  }
}

TEST(PlanScore, WaitingPendingAndUnscorablePlans) {
  struct Row {
    const char* what;
    const char* date;
    Json decision;
    const char* through;  // last bar given; "" for all
    int market_sessions_after;
    const char* broken_day;  // a session whose low is missing
    const char* status;
    const char* reason;  // a part of it
    const char* exit_date;
    double return_pct;
  };
  const Json wait = testing::buy_decision({{"action", "观望等待"}, {"holding_period", "5个交易日"}});
  const Row rows[] = {
      // 1810.00 on 02-10 to 1820.78 five sessions later (02-17), and to 1788.00 ten later (02-24).
      {"wait, 5 sessions", "2023-02-10", wait, "", -1, "", "scored", "", "2023-02-17", (1820.78 / 1810 - 1) * 100},
      {"wait, horizon assumed", "2023-02-10", testing::buy_decision({{"action", "观望等待"}, {"holding_period", "无"}}),
       "", -1, "", "scored", "", "2023-02-24", (1788.0 / 1810 - 1) * 100},
      {"fill window open", "2023-02-10", testing::buy_decision(), "2023-02-14", -1, "", "pending", "成交窗口", "", 0},
      // Target 1 is met 02-16 but the horizon runs to 02-20.
      {"horizon open", "2023-02-10", buy(1815, 1780, 1870, 1885), "2023-02-17", -1, "", "pending", "持有期", "", 0},
      {"bars lag the market", "2023-02-10", wait, "2023-02-10", 5, "", "pending", "观察期", "", 0},
      {"suspended", "2023-02-10", wait, "2023-02-10", 20, "", "not_scorable", "停牌", "", 0},
      {"zero stop", "2023-02-10", buy(1815, 0, 1870, 1885), "", -1, "", "not_scorable", "stop_loss", "", 0},
      {"stop over entry", "2023-02-10", buy(1815, 1820, 1870, 1885), "", -1, "", "not_scorable", "止损", "", 0},
      {"target under entry", "2023-02-10", buy(1815, 1780, 1815, 1885), "", -1, "", "not_scorable", "目标一", "", 0},
      {"day without a bar", "2023-02-11", wait, "", -1, "", "not_scorable", "2023-02-11", "", 0},
      {"missing price", "2023-02-10", testing::buy_decision(), "", -1, "2023-02-14", "not_scorable", "2023-02-14", "",
       0},
      {"unknown action", "2023-02-10", testing::buy_decision({{"action", "卖出"}}), "", -1, "", "not_scorable", "卖出",
       "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    tarnel::BarTable bars = moutai();
    if (*row.through) bars = bars.slice(bars.index().front(), tarnel::parse_date(row.through));
    if (*row.broken_day) {
      const auto day = std::find(bars.index().begin(), bars.index().end(), tarnel::parse_date(row.broken_day));
      bars.column("low")[std::size_t(day - bars.index().begin())] = NONE;
    }
    const PlanScore s = score_plan({"sh.600519", row.date, row.decision, true, row.market_sessions_after}, bars);
    EXPECT_EQ(s.status, row.status);
    EXPECT_NE(s.reason.find(row.reason), std::string::npos) << s.reason;
    EXPECT_EQ(s.exit_date, row.exit_date);
    EXPECT_NEAR(s.return_pct, row.return_pct, 1e-9);
    EXPECT_EQ(s.outcome, *row.exit_date ? "forward" : "");
  }
}

TEST(PlanScore, JsonLeavesWhatAScoreLacksNull) {
  const Json forward = score_json(
      score_plan({"sh.600519", "2023-02-10", testing::buy_decision({{"action", "观望等待"}, {"holding_period", "无"}})},
                 moutai()));
  EXPECT_EQ(forward["horizon_assumed"], true);
  EXPECT_EQ(forward["return_pct"], -1.2155);  // 1788 / 1810 - 1, percent, 4 decimals
  EXPECT_TRUE(forward["fill_price"].is_null() && forward["r_multiple"].is_null() && forward["baseline_r"].is_null());
  const tarnel::BarTable through_day = moutai().slice(moutai().index().front(), tarnel::parse_date("2023-02-10"));
  const Json pending = score_json(score_plan({"sh.600519", "2023-02-10", testing::buy_decision()}, through_day));
  EXPECT_EQ(pending["status"], "pending");
  EXPECT_TRUE(pending["outcome"].is_null() && pending["exit_date"].is_null() && pending["sessions_held"].is_null());
}

}  // namespace
}  // namespace quorvel::ledger
