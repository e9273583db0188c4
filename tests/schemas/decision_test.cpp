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

// Every key lands in its own member, and to_json writes the members back under their keys in
// record order: a field read into or written from a neighbour's member shows up here.
TEST(DecisionRecord, EachKeyFillsItsOwnMemberAndIsWrittenBackInRecordOrder) {
  const Json m{{"stock_code", "sh.600000"}, {"stock_name", "浦发银行"}, {"analysis_time", "2025-06-30"},
               {"current_price", 10.1},     {"direction", "看空"},       {"action", "谨慎买入"},
               {"holder_action", "分批减仓"}, {"strategy_mode", "区间震荡"}, {"entry_price_low", 9.8},
               {"entry_price_high", 10.2}, {"stop_loss", 9.5},          {"target_1", 11.0},
               {"target_2", 12.0},         {"rrr", 1.5},                {"rrr_max", 2.5},
               {"support_price", 9.6},     {"resistance_price", 11.2},  {"position_pct", "20%"},
               {"holding_period", "5-10日"}, {"confidence", "高"},      {"risk_level", "低"},
               {"market_sentiment", "看多"}, {"key_watch", "跌破 9.5 离场"}};
  const StockDecision expected{.stock_code = "sh.600000", .stock_name = "浦发银行", .analysis_time = "2025-06-30",
                               .current_price = 10.1, .direction = "看空", .action = "谨慎买入",
                               .holder_action = "分批减仓", .strategy_mode = "区间震荡", .entry_price_low = 9.8,
                               .entry_price_high = 10.2, .stop_loss = 9.5, .target_1 = 11.0, .target_2 = 12.0,
                               .rrr = 1.5, .rrr_max = 2.5, .support_price = 9.6, .resistance_price = 11.2,
                               .position_pct = "20%", .holding_period = "5-10日", .confidence = "高",
                               .risk_level = "低", .market_sentiment = "看多", .key_watch = "跌破 9.5 离场"};
  const StockDecision d = StockDecision::from_map(m);
  EXPECT_EQ(d, expected);
  EXPECT_EQ(d.to_json().dump(), m.dump());
}

}  // namespace
}  // namespace quorvel::agent::schemas
