#include <cmath>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "quorvel/agent/schemas/extract.h"
#include "support/test_support.h"

namespace quorvel::agent::schemas {
namespace {

using Json = nlohmann::ordered_json;
using quorvel::testing::LogCapture;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(DecisionEnums, FirstIllegalFieldInTableOrderIsReported) {
  const struct {
    Json map;
    std::string log;  // empty: valid
  } rows[] = {
      {Json{{"direction", "看多"}, {"action", "谨慎买入"}, {"confidence", "低"}}, ""},
      {Json{{"direction", nullptr}, {"action", "观望等待"}}, ""},  // null counts as missing
      {Json::object(), ""},
      {Json{{"confidence", "极高"}, {"direction", "偏多"}},
       "warning|决策枚举非法 | 字段=direction, 当前值='偏多', 合法集合={'看多', '看空', '中性'}"},
      {Json{{"risk_level", 3}}, "warning|决策枚举非法 | 字段=risk_level, 当前值=3, 合法集合={'高', '中', '低'}"},
      {Json{{"market_sentiment", 1.5}},
       "warning|决策枚举非法 | 字段=market_sentiment, 当前值=1.5, 合法集合={'看多', '看空', '中性'}"},
      {Json{{"holder_action", true}},
       "warning|决策枚举非法 | 字段=holder_action, 当前值=True, 合法集合={'继续持有', '分批减仓', '清仓离场'}"},
      {Json{{"action", "买入"}},
       "warning|决策枚举非法 | 字段=action, 当前值='买入', 合法集合={'强烈买入', '建议买入', '谨慎买入', '观望等待'}"},
      {Json{{"strategy_mode", " 趋势跟随"}},
       "warning|决策枚举非法 | 字段=strategy_mode, 当前值=' 趋势跟随', 合法集合={'趋势跟随', '底部反转', '区间震荡', "
       "'空仓等待', '均线压缩'}"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.map.dump());
    LogCapture logs;
    EXPECT_EQ(validate_decision_enums(row.map), row.log.empty());
    if (row.log.empty()) {
      EXPECT_THAT(logs.lines(), IsEmpty());
    } else {
      EXPECT_THAT(logs.lines(), ElementsAre(row.log));
    }
  }
}

TEST(DecisionEnums, ListsAndObjectsCannotBeJudged) {
  EXPECT_THROW(validate_decision_enums(Json{{"confidence", Json::array()}}), quorvel::TypeError);
  EXPECT_THROW(validate_decision_enums(Json{{"confidence", Json::object()}}), quorvel::TypeError);
}

TEST(PriceNormalisation, RoundsNumbersAndNumericTextsLeavesTheRest) {
  Json m{{"current_price", 10.12345}, {"entry_price_low", 24.5004}, {"entry_price_high", 0.0625},
         {"stop_loss", 0.1875},       {"target_1", 1.0005},         {"target_2", " 12.34567\t"},
         {"support_price", "支撑位"}, {"resistance_price", "   "},   {"rrr", true},
         {"rrr_max", nullptr},        {"confidence", 1.23456},      {"position_pct", 30.5}};
  normalize_decision_price_fields(m);
  EXPECT_EQ(m["current_price"], 10.123);
  EXPECT_EQ(m["entry_price_low"], 24.5);
  EXPECT_EQ(m["entry_price_high"], 0.062);
  EXPECT_EQ(m["stop_loss"], 0.188);
  EXPECT_EQ(m["target_1"], 1.0);
  EXPECT_EQ(m["target_2"], 12.346);
  EXPECT_EQ(m["support_price"], "支撑位");
  EXPECT_EQ(m["resistance_price"], "   ");
  EXPECT_EQ(m["rrr"], true);
  EXPECT_TRUE(m["rrr_max"].is_null());
  EXPECT_EQ(m["confidence"], 1.23456);  // not a price key
  EXPECT_EQ(m["position_pct"], 30.5);
  EXPECT_EQ(m.size(), 12u);            // nothing added for absent keys
}

TEST(PriceNormalisation, IntegersBecomeRealsAndWordsAreNumbers) {
  Json m{{"stop_loss", 9}, {"target_1", " inf "}, {"target_2", "NaN"}, {"rrr", "-Infinity"}, {"rrr_max", "1e400"},
         {"current_price", Json::array({1})}};
  normalize_decision_price_fields(m);
  EXPECT_TRUE(m["stop_loss"].is_number_float());
  EXPECT_EQ(m["stop_loss"], 9.0);
  EXPECT_EQ(m["target_1"].get<double>(), std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(m["target_2"].get<double>()));
  EXPECT_EQ(m["rrr"].get<double>(), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(m["rrr_max"].get<double>(), std::numeric_limits<double>::infinity());
  EXPECT_EQ(m["current_price"], Json::array({1}));
}

Json buy(Json prices) {
  prices["action"] = "建议买入";
  return prices;
}

TEST(PriceChain, RulesInOrderWithTheirMessages) {
  const struct {
    std::string name;
    Json map;
    std::string log;  // empty: the chain holds
  } rows[] = {
      {"ascending chain", buy({{"stop_loss", 9.5}, {"entry_price_low", 10}, {"entry_price_high", 10.5},
                               {"target_1", 11}, {"target_2", 12}}), ""},
      {"equal entry bounds are allowed", buy({{"entry_price_low", 10}, {"entry_price_high", 10}}), ""},
      {"wait decision is not checked", Json{{"action", "观望等待"}, {"stop_loss", 20}, {"entry_price_low", 10}}, ""},
      {"missing action is not checked", Json{{"stop_loss", 20}, {"entry_price_low", 10}}, ""},
      {"zero switches a rule off", buy({{"stop_loss", 0}, {"entry_price_low", 10}, {"target_1", 0},
                                        {"entry_price_high", 50}, {"target_2", 40}}), ""},
      {"missing and empty values count as zero",
       buy({{"stop_loss", ""}, {"entry_price_low", Json::array()}, {"entry_price_high", Json::object()},
            {"target_1", false}, {"target_2", nullptr}}), ""},
      {"NaN never violates", buy({{"stop_loss", std::nan("")}, {"entry_price_low", 10}}), ""},
      {"rule 1", buy({{"stop_loss", 10.0}, {"entry_price_low", 10.0}}),
       "warning|决策价格链违规 | stop_loss=10.000 >= entry_price_low=10.000"},
      {"rule 2", buy({{"entry_price_low", " 10.5"}, {"entry_price_high", 10.25}}),
       "warning|决策价格链违规 | entry_price_low=10.500 > entry_price_high=10.250"},
      {"rule 3", buy({{"entry_price_high", 11}, {"target_1", 11}}),
       "warning|决策价格链违规 | entry_price_high=11.000 >= target_1=11.000"},
      {"rule 4", buy({{"target_1", 12.5}, {"target_2", 12.4999}}),
       "warning|决策价格链违规 | target_1=12.500 >= target_2=12.500"},
      {"true counts as one", buy({{"stop_loss", true}, {"entry_price_low", 0.5}}),
       "warning|决策价格链违规 | stop_loss=1.000 >= entry_price_low=0.500"},
      {"first broken rule only", buy({{"stop_loss", 30}, {"entry_price_low", 20}, {"entry_price_high", 10}}),
       "warning|决策价格链违规 | stop_loss=30.000 >= entry_price_low=20.000"},
      {"strong buy is checked", Json{{"action", "强烈买入"}, {"target_1", 2}, {"target_2", 1}},
       "warning|决策价格链违规 | target_1=2.000 >= target_2=1.000"},
      {"cautious buy is checked", Json{{"action", "谨慎买入"}, {"target_1", 2}, {"target_2", 1}},
       "warning|决策价格链违规 | target_1=2.000 >= target_2=1.000"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LogCapture logs;
    EXPECT_EQ(validate_decision_price_chain(row.map), row.log.empty());
    if (row.log.empty()) {
      EXPECT_THAT(logs.lines(), IsEmpty());
    } else {
      EXPECT_THAT(logs.lines(), ElementsAre(row.log));
    }
  }
}

TEST(PriceChain, UnreadablePricesOfABuyDecisionFailTheCall) {
  EXPECT_THROW(validate_decision_price_chain(buy({{"target_2", "十二元"}})), quorvel::ValueError);
  EXPECT_THROW(validate_decision_price_chain(buy({{"stop_loss", "  "}})), quorvel::ValueError);
  EXPECT_THROW(validate_decision_price_chain(buy({{"entry_price_low", Json::array({1})}})), quorvel::TypeError);
  EXPECT_THROW(validate_decision_price_chain(buy({{"target_1", Json{{"v", 1}}}})), quorvel::TypeError);
  // The unreadable price is reported even when an earlier rule would already fail.
  EXPECT_THROW(validate_decision_price_chain(buy({{"stop_loss", 20}, {"entry_price_low", 10}, {"target_2", "x"}})),
               quorvel::ValueError);
  // Prices outside the chain are not read.
  EXPECT_TRUE(validate_decision_price_chain(buy({{"current_price", "x"}, {"support_price", Json::array({1})}})));
}

}  // namespace
}  // namespace quorvel::agent::schemas
