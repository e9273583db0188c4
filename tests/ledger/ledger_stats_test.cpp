// The ledger report over a handful of scored plans with known R: group figures, the baseline beside
// the plans, confidence calibration, and the printed table, CSV and JSON.
#include "quorvel/ledger/ledger_stats.h"

#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "quorvel/ledger/ledger_output.h"
#include "support/test_support.h"

namespace quorvel::ledger {
namespace {

LedgerEntry buy(std::string market, std::string action, std::string confidence, std::string mode, std::string bias,
                std::string check, std::string outcome, double r, int sessions, std::optional<double> baseline) {
  LedgerEntry e{"000001", "2024-03-01", market, action, confidence, mode, bias, check, {}};
  e.score.status = "scored";
  e.score.kind = "buy";
  e.score.outcome = outcome;
  e.score.r_multiple = r;
  e.score.sessions_held = sessions;
  e.score.baseline_r = baseline;
  return e;
}

LedgerEntry wait(std::string market, std::string confidence, std::string bias, double return_pct) {
  LedgerEntry e{"510300", "2024-03-01", market, "观望等待", confidence, "", bias, "通过", {}};
  e.score.status = "scored";
  e.score.kind = "forward";
  e.score.outcome = "forward";
  e.score.return_pct = return_pct;
  return e;
}

std::vector<LedgerEntry> sample() {
  LedgerEntry pending = buy("A", "建议买入", "高", "趋势跟随", "偏多", "通过", "target_1", 9.0, 1, 9.0);
  pending.score.status = "pending";
  return {buy("A", "建议买入", "高", "趋势跟随", "偏多", "通过", "target_1", 2.0, 5, 1.0),
          buy("A", "建议买入", "高", "趋势跟随", "偏多", "通过", "stop", -1.0, 2, -1.0),
          buy("HK", "谨慎买入", "中", "回调低吸", "震荡", "需复核", "horizon", 0.5, 10, 0.2),
          buy("HK", "谨慎买入", "中", "回调低吸", "", "通过", "horizon", -0.5, 10, std::nullopt),
          buy("US", "强烈买入", "低", "突破", "偏空", "未核验", "not_filled", 0.0, 0, -0.4),
          wait("A", "中", "偏多", -2.0),
          wait("ETF", "低", "避险", 1.0),
          pending};
}

const GroupStats& group(const LedgerReport& r, const std::string& dimension, const std::string& value) {
  for (const auto& g : r.groups)
    if (g.dimension == dimension && g.value == value) return g;
  throw std::runtime_error("no group " + dimension + "/" + value);
}

TEST(LedgerStats, GroupFiguresComeFromTheFilledBuysAndTheWaits) {
  const LedgerReport r = build_ledger_report(sample());
  struct Row {
    std::string dimension, value;
    int plans, filled, not_filled;
    std::optional<double> hit, mean, median, expectancy, sessions, target_1;
    int waits;
    std::optional<double> wait_return, wait_right;
  };
  const std::vector<Row> rows{
      // R 2, -1, 0.5, -0.5: median of an even count is the mean of 0.5 and -0.5; expectancy per
      // buy signal 1.0 / 5 (the unfilled buy counts 0 R).
      {"overall", "", 7, 4, 1, 0.5, 0.25, 0.0, 0.2, 6.75, 0.25, 2, -0.5, 0.5},
      {"market", "A", 3, 2, 0, 0.5, 0.5, 0.5, 0.5, 3.5, 0.5, 1, -2.0, 1.0},
      {"action", "强烈买入", 1, 0, 1, {}, {}, {}, 0.0, {}, {}, 0, {}, {}},
      {"bias", "", 1, 1, 0, 0.0, -0.5, -0.5, -0.5, 10.0, 0.0, 0, {}, {}},
      {"market", "ETF", 1, 0, 0, {}, {}, {}, {}, {}, {}, 1, 1.0, 0.0},
  };
  for (const Row& w : rows) {
    SCOPED_TRACE(w.dimension + "/" + w.value);
    const GroupStats& g = group(r, w.dimension, w.value);
    EXPECT_EQ(std::tie(g.plans, g.filled, g.not_filled, g.waits), std::tie(w.plans, w.filled, w.not_filled, w.waits));
    EXPECT_EQ(g.hit_rate, w.hit);
    EXPECT_EQ(g.mean_r, w.mean);
    EXPECT_EQ(g.median_r, w.median);
    EXPECT_EQ(g.expectancy_r, w.expectancy);
    EXPECT_EQ(g.mean_sessions_held, w.sessions);
    EXPECT_EQ(g.target_1_rate, w.target_1);
    EXPECT_EQ(g.wait_return_pct, w.wait_return);
    EXPECT_EQ(g.wait_right_rate, w.wait_right);
  }
}

TEST(LedgerStats, BaselineComparesTheSameInstrumentDays) {
  // Days with a baseline R: the first three buys and the unfilled one; the plans filled three of them.
  const BaselineStats b = build_ledger_report(sample()).baseline;
  EXPECT_EQ(b.days, 4);
  EXPECT_EQ(b.plan.count, 3);
  EXPECT_DOUBLE_EQ(*b.plan.hit_rate, 2.0 / 3);
  EXPECT_DOUBLE_EQ(*b.plan.mean_r, 0.5);
  EXPECT_EQ(b.naive.count, 4);
  EXPECT_DOUBLE_EQ(*b.naive.hit_rate, 0.5);
  EXPECT_DOUBLE_EQ(*b.naive.mean_r, -0.05);
}

TEST(LedgerStats, CalibrationGivesWilsonIntervals) {
  struct Row {
    int k, n;
    double low, high;
  };
  for (const Row& w : std::vector<Row>{{7, 10, 0.3968, 0.8922}, {0, 10, 0.0, 0.2775}, {10, 10, 0.7225, 1.0},
                                       {1, 2, 0.0945, 0.9055}}) {
    SCOPED_TRACE(std::to_string(w.k) + "/" + std::to_string(w.n));
    const auto i = wilson_interval(w.k, w.n);
    ASSERT_TRUE(i);
    EXPECT_NEAR(i->low, w.low, 5e-5);
    EXPECT_NEAR(i->high, w.high, 5e-5);
  }
  EXPECT_FALSE(wilson_interval(0, 0));
  const auto c = build_ledger_report(sample()).calibration;
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(std::tie(c[0].confidence, c[0].filled, c[0].winners), std::make_tuple("高", 2, 1));
  EXPECT_EQ(std::tie(c[2].confidence, c[2].filled), std::make_tuple("低", 0));  // its buy did not fill
  EXPECT_FALSE(c[2].hit_rate);
  EXPECT_FALSE(c[2].interval);
}

TEST(LedgerOutput, PrintsTableCsvAndJson) {
  const LedgerReport r = build_ledger_report(sample());
  std::ostringstream table, csv, json;
  print_ledger_report(table, r, "table");
  const auto golden = testing::test_data_dir() / "ledger" / "report.txt";
  if (std::getenv("QUORVEL_UPDATE_GOLDEN")) testing::write_file(golden, table.str());
  EXPECT_EQ(table.str(), testing::read_file(golden));

  print_ledger_report(csv, r, "csv");
  EXPECT_NE(csv.str().find("dimension,value,plans,filled,not_filled,hit_rate_pct,mean_r,median_r,expectancy_r,"
                           "mean_sessions_held,target_1_pct,waits,wait_return_pct,wait_right_pct,winners,ci_low_pct,"
                           "ci_high_pct\noverall,,7,4,1,50.0,0.25,0.00,0.20,6.8,25.0,2,-0.50,50.0,,,\n"),
            std::string::npos);
  EXPECT_NE(csv.str().find("\nbaseline,naive,4,4,,50.0,-0.05,"), std::string::npos);
  EXPECT_NE(csv.str().find("\ncalibration,低,,0,,,,,,,,,,,0,,\n"), std::string::npos);

  print_ledger_report(json, r, "json");
  const auto doc = nlohmann::json::parse(json.str());
  EXPECT_EQ(doc["groups"][0]["hit_rate_pct"], 50.0);
  EXPECT_EQ(doc["baseline"]["plan"]["hit_rate_pct"], 66.7);
  EXPECT_EQ(doc["calibration"][1]["ci_low_pct"], 9.5);
  EXPECT_TRUE(doc["calibration"][2]["hit_rate_pct"].is_null());
}

}  // namespace
}  // namespace quorvel::ledger
