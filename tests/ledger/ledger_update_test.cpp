// The ledger over a real report store and the bundled bars: which plans are scored, stored once with
// one message each, and read back with their bias and check result.
#include "quorvel/ledger/ledger_update.h"

#include <gtest/gtest.h>

#include "quorvel/ledger/ledger_entries.h"
#include "support/decision_replies.h"
#include "support/fake_market_data.h"
#include "support/test_support.h"
#include "tarnel/local_market_data.h"

namespace quorvel::ledger {
namespace {

using Json = nlohmann::ordered_json;

report::AnalysisReport analysis(const Json& decision, const char* date = "2023-02-10") {
  report::AnalysisReport a;
  a.stock_code = "sh.600519";
  a.stock_name = "贵州茅台";
  a.content = "分析";
  a.analysis_time = date;
  a.market_type = "A";
  a.current_price = 1810;
  a.llm_client_type = "offline";
  a.decision = decision;
  a.plan_checks = Json::array();
  return a;
}

TEST(LedgerUpdate, ScoresEachLatestPlanOnceAndReadsItBack) {
  testing::TempDir dir;
  report::StoreOptions o;
  o.directory = dir.path();
  o.write_files = false;
  report::SqlReportStore store(o);
  Service<tarnel::MarketData>::Guard market{testing::bundled_market_data()};

  // 02-10: a buy replaced by --force with the plan that counts (fills 02-13 at 1810, T+1 holds it
  // through the 02-13 high, target 1 1870 on 02-16); 02-09: a wait; 02-06: a plan without a stop.
  store.save_analysis_report(analysis(testing::buy_decision({{"holding_period", "3个交易日"}})));
  store.save_analysis_report(analysis(testing::buy_decision({{"entry_price_low", 1800}, {"entry_price_high", 1815},
                                                             {"stop_loss", 1780}, {"target_1", 1870},
                                                             {"target_2", 1885}, {"holding_period", "5个交易日"}})));
  store.save_analysis_report(analysis(testing::buy_decision({{"action", "观望等待"}, {"analysis_time", "2023-02-09"}}),
                                      "2023-02-09"));
  store.save_analysis_report(analysis(testing::buy_decision({{"stop_loss", 0}, {"analysis_time", "2023-02-06"}}),
                                      "2023-02-06"));
  store.save_solvara({"A", "**▋ A 股大盘市场研判 · [偏多 / 强]**", "2023-02-10", "offline", "m"});
  const std::size_t messages = store.pending_count();

  const UpdateCounts early = update_ledger(store, {}, "2023-02-14");  // the horizons have not passed yet
  EXPECT_EQ(std::tie(early.plans, early.not_scorable, early.pending),
            std::make_tuple(std::size_t(3), std::size_t(1), std::size_t(2)));
  const UpdateCounts counts = update_ledger(store, {}, "2023-03-31");
  EXPECT_EQ(std::tie(counts.plans, counts.scored, counts.pending),
            std::make_tuple(std::size_t(2), std::size_t(2), std::size_t(0)));
  EXPECT_EQ(store.pending_count(), messages + 3);  // one score message per stored result
  EXPECT_EQ(update_ledger(store, {}, "2023-03-31").plans, 0u);  // nothing is scored twice

  const auto entries = ledger_entries(store, {});
  ASSERT_EQ(entries.size(), 3u);  // oldest day first
  EXPECT_EQ(entries[0].score.status, "not_scorable");
  EXPECT_EQ(entries[1].score.outcome, "forward");
  EXPECT_EQ(entries[2].score.outcome, "target_1");
  EXPECT_DOUBLE_EQ(entries[2].score.r_multiple, 2.0);  // (1870 - 1810) / (1810 - 1780)
  EXPECT_EQ(entries[2].bias + " " + entries[2].check + " " + entries[1].bias, "偏多 通过 ");
  report::PlanFilter hk;
  hk.market = "HK";
  EXPECT_EQ(ledger_entries(store, hk).size(), 0u);
}

}  // namespace
}  // namespace quorvel::ledger
