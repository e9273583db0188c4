// The decision member of analysis messages, derived with the decision schema library.
#include <gtest/gtest.h>

#include "quorvel/report/decision_payload.h"
#include "report/report_fixtures.h"

namespace quorvel::report {
namespace {

using Json = nlohmann::ordered_json;

std::string reply_with(const std::string& json) {
  return "## 技术分析\n趋势判断: 看涨\n\n```json\n" + json + "\n```\n以上仅供参考。";
}

const char* VALID = R"({"stock_code": "sh.600000", "stock_name": "浦发银行", "analysis_time": "2025-06-30",
  "current_price": 10.25, "direction": "看多", "action": "建议买入", "holder_action": "继续持有",
  "strategy_mode": "趋势跟随", "entry_price_low": 10.1, "entry_price_high": 10.3, "stop_loss": 9.6,
  "target_1": 11.0, "target_2": 11.8, "rrr": 1.5, "rrr_max": 2.9, "support_price": 9.9,
  "resistance_price": 11.2, "position_pct": "30%", "holding_period": "1-3日", "confidence": "中",
  "risk_level": "中", "market_sentiment": "中性", "key_watch": "量能"})";

TEST(DecisionPayload, ValidDecisionBecomesThe23FieldRecord) {
  const auto d = decision_from_analysis(reply_with(VALID));
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(d->size(), 23u);
  EXPECT_EQ(d->begin().key(), "stock_code");
  EXPECT_EQ((*d)["action"], "建议买入");
  EXPECT_DOUBLE_EQ((*d)["stop_loss"].get<double>(), 9.6);
}

TEST(DecisionPayload, MissingOrInvalidDecisionGivesNull) {
  EXPECT_FALSE(decision_from_analysis("没有任何 JSON 的回复").has_value());
  EXPECT_FALSE(decision_from_analysis("").has_value());
  Json bad = Json::parse(VALID);
  bad["action"] = "满仓梭哈";
  EXPECT_FALSE(decision_from_analysis(reply_with(bad.dump())).has_value());
  Json unreadable = Json::parse(VALID);
  unreadable["stop_loss"] = "九块六";  // unreadable price of a buy decision: the validator throws
  EXPECT_FALSE(decision_from_analysis(reply_with(unreadable.dump())).has_value());
  Json missing = Json::parse(VALID);
  missing.erase("direction");
  EXPECT_FALSE(decision_from_analysis(reply_with(missing.dump())).has_value());
}

TEST(DecisionPayload, StoredAnalysisMessageCarriesTheDecision) {
  quorvel::testing::TempDir dir;
  auto store = quorvel::testing::open_store(dir.path());
  AnalysisReport r = quorvel::testing::analysis();
  r.content = reply_with(VALID);
  store->save_analysis_report(r);
  quorvel::testing::ScriptedPublisher pub;
  ASSERT_TRUE(store->flush_with(pub).ok());
  ASSERT_EQ(pub.sent.size(), 1u);
  const Json m = Json::parse(pub.sent[0].payload);
  EXPECT_EQ(m["decision"]["direction"], "看多");
  EXPECT_EQ(m["content"], r.content);
}

}  // namespace
}  // namespace quorvel::report
