#include "quorvel/agent/schemas/decision.h"

#include <cmath>
#include <limits>
#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvel::agent::schemas {
namespace {

using Json = nlohmann::ordered_json;
using ::testing::HasSubstr;

Json core() {
  return Json{{"stock_code", "sh.600000"}, {"analysis_time", "2025-06-30"}, {"direction", "看多"}, {"action", "观望等待"}};
}

// Builds a record from the core map plus one extra member.
StockDecision with(const std::string& key, const Json& value) {
  Json m = core();
  m[key] = value;
  return StockDecision::from_map(m);
}

std::string error_of(const Json& m) {
  try {
    StockDecision::from_map(m);
  } catch (const ValidationError& e) {
    return e.what();
  }
  return "";
}

TEST(DecisionRecord, CoreFieldsOnlyTakeTheDefaults) {
  const StockDecision d = StockDecision::from_map(core());
  EXPECT_EQ(d.stock_code, "sh.600000");
  EXPECT_EQ(d.analysis_time, "2025-06-30");
  EXPECT_EQ(d.direction, "看多");
  EXPECT_EQ(d.action, "观望等待");
  EXPECT_EQ(d.stock_name, "");
  EXPECT_EQ(d.holder_action, "继续持有");
  EXPECT_EQ(d.strategy_mode, "趋势跟随");
  EXPECT_EQ(d.position_pct, "0%");
  EXPECT_EQ(d.holding_period, "1-3日");
  EXPECT_EQ(d.confidence, "中");
  EXPECT_EQ(d.risk_level, "中");
  EXPECT_EQ(d.market_sentiment, "中性");
  EXPECT_EQ(d.key_watch, "");
  for (double v : {d.current_price, d.entry_price_low, d.entry_price_high, d.stop_loss, d.target_1, d.target_2, d.rrr,
                   d.rrr_max, d.support_price, d.resistance_price}) {
    EXPECT_EQ(v, 0.0);
  }
}

TEST(DecisionRecord, PositionPctNumbersBecomeTruncatedPercentTexts) {
  const struct {
    Json in;
    std::string out;
  } rows[] = {
      {30, "30%"},      {12.9, "12%"},    {-5.5, "-5%"},   {0.3, "0%"},    {-0.7, "0%"},  {0, "0%"},
      {45.7, "45%"},    {true, "1%"},     {false, "0%"},   {"30%", "30%"}, {"30", "30"},  {"45%", "45%"},
      {1e20, "100000000000000000000%"},   {std::uint64_t{18446744073709551615u}, "18446744073709551615%"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.in.dump());
    EXPECT_EQ(with("position_pct", row.in).position_pct, row.out);
  }
}

TEST(DecisionRecord, NonFinitePositionPctFails) {
  for (double v : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    Json m = core();
    m["position_pct"] = v;
    EXPECT_THAT(error_of(m), HasSubstr("position_pct"));
  }
}

TEST(DecisionRecord, TextFieldsRefuseOtherKinds) {
  for (const Json& bad : {Json(5), Json(1.5), Json(true), Json(nullptr), Json::array({"5日"}), Json{{"a", 1}}}) {
    SCOPED_TRACE(bad.dump());
    Json m = core();
    m["holding_period"] = bad;
    EXPECT_THAT(error_of(m), HasSubstr("holding_period: 应为文本"));
  }
  EXPECT_EQ(with("holding_period", "5日").holding_period, "5日");
  EXPECT_EQ(with("stock_name", "  浦发 ").stock_name, "  浦发 ");  // stored unchanged
}

TEST(DecisionRecord, RealFieldsAcceptNumbersBooleansAndNumericText) {
  EXPECT_EQ(with("stop_loss", 9).stop_loss, 9.0);
  EXPECT_EQ(with("stop_loss", 9.87654).stop_loss, 9.87654);  // no rounding of its own
  EXPECT_EQ(with("stop_loss", true).stop_loss, 1.0);
  EXPECT_EQ(with("stop_loss", false).stop_loss, 0.0);
  EXPECT_EQ(with("stop_loss", " 9.5 ").stop_loss, 9.5);
  EXPECT_TRUE(std::isnan(with("rrr", std::nan("")).rrr));
  EXPECT_TRUE(std::isinf(with("rrr", std::numeric_limits<double>::infinity()).rrr));
}

TEST(DecisionRecord, RealFieldsRefuseNullTextListsAndObjects) {
  for (const Json& bad : {Json(nullptr), Json("十元"), Json(""), Json::array(), Json::object()}) {
    SCOPED_TRACE(bad.dump());
    Json m = core();
    m["stop_loss"] = bad;
    EXPECT_THAT(error_of(m), HasSubstr("stop_loss: 应为数值"));
  }
}

TEST(DecisionRecord, ErrorNamesEveryOffendingField) {
  Json m{{"direction", "看多"}, {"holding_period", 5}, {"stop_loss", nullptr}};
  try {
    StockDecision::from_map(m);
    FAIL() << "expected a validation error";
  } catch (const ValidationError& e) {
    std::set<std::string> fields;
    for (const auto& issue : e.issues()) fields.insert(issue.field);
    EXPECT_EQ(fields, (std::set<std::string>{"stock_code", "analysis_time", "action", "holding_period", "stop_loss"}));
    EXPECT_THAT(e.what(), HasSubstr("stock_code: 缺少必填字段"));
    EXPECT_THAT(e.what(), HasSubstr("action: 缺少必填字段"));
    const quorvel::ValueError& as_value_error = e;  // callers may catch the general kind
    EXPECT_NE(std::string(as_value_error.what()), "");
  }
}

TEST(DecisionRecord, NullActionIsRefused) {
  Json m = core();
  m["action"] = nullptr;
  EXPECT_THAT(error_of(m), HasSubstr("action: 应为文本"));
}

TEST(DecisionRecord, IllegalCategoricalTextIsKeptAndUnknownKeysDropped) {
  Json m = core();
  m["confidence"] = "非常高";
  m["extra"] = "ignored";
  const StockDecision d = StockDecision::from_map(m);
  EXPECT_EQ(d.confidence, "非常高");
  EXPECT_FALSE(d.to_json().contains("extra"));
}

TEST(DecisionRecord, NonObjectInputIsRefused) {
  EXPECT_THROW(StockDecision::from_map(Json::array()), ValidationError);
  EXPECT_THROW(StockDecision::from_map(Json(nullptr)), ValidationError);
}

TEST(DecisionRecord, ToJsonListsTheFieldsInRecordOrderAndRoundTrips) {
  Json m = core();
  m["target_1"] = 11.5;
  m["key_watch"] = "跌破 9.75 离场";
  const StockDecision d = StockDecision::from_map(m);
  const Json j = d.to_json();
  ASSERT_EQ(j.size(), DECISION_JSON_FIELDS.size());
  std::size_t i = 0;
  for (const auto& [key, value] : j.items()) EXPECT_EQ(key, DECISION_JSON_FIELDS[i++]);
  EXPECT_EQ(j["target_1"], 11.5);
  EXPECT_EQ(StockDecision::from_map(j), d);
}

TEST(DecisionTables, ShapesAndReferences) {
  EXPECT_EQ(STOCK_DECISION_FIELDS.size(), 23u);
  std::vector<std::string_view> reals;
  for (std::size_t i = 0; i < STOCK_DECISION_FIELDS.size(); ++i) {
    EXPECT_EQ(STOCK_DECISION_FIELDS[i].name, DECISION_JSON_FIELDS[i]);
    EXPECT_FALSE(STOCK_DECISION_FIELDS[i].description.empty());
    if (STOCK_DECISION_FIELDS[i].is_real) reals.push_back(STOCK_DECISION_FIELDS[i].name);
  }
  // The price keys are exactly the real-typed fields.
  EXPECT_EQ(std::set<std::string_view>(reals.begin(), reals.end()),
            std::set<std::string_view>(DECISION_PRICE_KEYS.begin(), DECISION_PRICE_KEYS.end()));
  EXPECT_EQ(DECISION_ENUM_VALID_MAP[0].first, "direction");
  EXPECT_EQ(DECISION_ENUM_VALID_MAP[0].second.data(), DIRECTION_ENUM.data());
  EXPECT_EQ(DECISION_ENUM_VALID_MAP[6].second.data(), MARKET_SENTIMENT_ENUM.data());
  EXPECT_NE(DIRECTION_ENUM.data(), MARKET_SENTIMENT_ENUM.data());
  EXPECT_TRUE(enum_contains(ACTION_ENUM, "谨慎买入"));
  EXPECT_FALSE(enum_contains(ACTION_ENUM, "谨慎买入 "));
  EXPECT_TRUE(is_decision_field("rrr_max"));
  EXPECT_FALSE(is_decision_field("RRR_MAX"));
  std::size_t required = 0;
  for (const auto& f : STOCK_DECISION_FIELDS) required += f.required;
  EXPECT_EQ(required, 4u);
}

}  // namespace
}  // namespace quorvel::agent::schemas
