// Position constraints: the regime, cap and score rules, and the constants against the stock prompt.
#include "quorvel/strategy/ai/constraints.h"

#include <functional>
#include <regex>

#include <gtest/gtest.h>

#include "contracts/constants.h"
#include "contracts/errors.h"
#include "quorvel/agent/prompts/vellumor/templates.h"
#include "contracts/dates.h"

namespace quorvel::strategy::ai {
namespace {

using Json = nlohmann::ordered_json;
using constants::TuningConstants;
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// A one-bar table holding only the given columns.
tarnel::BarTable bar(std::initializer_list<std::pair<const char*, double>> columns) {
  tarnel::BarTable t;
  t.append_row(tarnel::parse_date("2023-02-10"), {});
  for (const auto& [name, value] : columns) t.set_column(name, {value});
  return t;
}

Json hint(const std::string& strategy_hint, double priority) {
  return {{"pre_screen", {{"strategy_hint", strategy_hint}, {"priority_score", priority}}}};
}

struct Row {
  const char* name;
  std::string bias;
  Json pattern;
  tarnel::BarTable daily, weekly;
  Json expected;  // min_rrr, max_stop_dist_atr, max_position_pct, score, regime
  std::function<void(TuningConstants&)> tune = {};
};

Json expect(double rrr, double stop, double cap, double score, const char* regime) {
  return {{"min_rrr", rrr},
          {"max_stop_dist_atr", stop},
          {"max_position_pct", cap},
          {"base_confidence_score", score},
          {"market_regime", regime}};
}

TEST(Constraints, RegimeCapAndScoreRules) {
  const auto bull_day = bar({{"EMA_5", 12}, {"EMA_10", 11}, {"EMA_20", 10}, {"Volume_Ratio", 1.6}});
  const auto bull_week = bar({{"EMA_5", 12}, {"EMA_20", 10}});
  const auto bear_week = bar({{"EMA_5", 9}, {"EMA_20", 10}});
  const std::vector<Row> rows = {
      {"all credits in a bullish market", "偏多", hint("trend_follow", 3.5), bull_day, bull_week,
       expect(1.2, 1.5, 30, 3.5, "强势档")},
      {"risk-off has no entry and takes the bearish regime", "避险", Json::object(),
       bar({{"EMA_5", 10.5}, {"EMA_10", 10.6}, {"EMA_20", 10}, {"Volume_Ratio", 1.0}}), bear_week,
       expect(1.5, 1.2, 10, 0.5, "弱势档")},
      {"bottom hint in any case: bottom caps and reversal credit", "震荡", hint("BOTTOM_Reversal", 2.0),
       bar({{"EMA_5", 9}, {"EMA_10", 10}, {"EMA_20", 11}, {"Volume_Ratio", 1.2}}), bull_week,
       expect(1.3, 1.8, 15, 1.8, "中性档")},
      {"反转 hint, no volume ratio: 1.0, bull stack earns the volume credit", "偏空", hint("底部反转", 0),
       bar({{"EMA_5", 12}, {"EMA_10", 11}, {"EMA_20", 10}}), tarnel::BarTable(), expect(1.5, 1.2, 10, 1.5, "弱势档")},
      {"empty weekly table: no trend credit, the others count", "偏多", hint("trend", 3.0),
       bar({{"EMA_5", 12}, {"EMA_10", 13}, {"EMA_20", 10}, {"Volume_Ratio", 1.5}}), tarnel::BarTable(),
       expect(1.2, 1.5, 30, 2.5, "强势档")},
      {"weekly bull alone gives nothing; equal EMAs and NaN ratio give nothing", "偏多", Json::object(),
       bar({{"EMA_5", 10}, {"EMA_10", 10}, {"EMA_20", 11}, {"Volume_Ratio", NaN}}), bull_week,
       expect(1.2, 1.5, 30, 1.0, "强势档")},
      {"sum shown without floating-point residue", "震荡", hint("bottom", 2.0), bar({{"Volume_Ratio", 1.1}}),
       tarnel::BarTable(), expect(1.3, 1.8, 15, 1.4, "中性档"),
       [](TuningConstants& c) { c.MARKET_ENV_SCORES["震荡"] = 0.1; }},
      {"regime without a cap entry takes the fallback", "偏多", Json::object(), tarnel::BarTable(), tarnel::BarTable(),
       expect(1.2, 1.5, 7, 1.0, "强势档"),
       [](TuningConstants& c) {
         c.POSITION_CAPS["default"].erase("强势档");
         c.POSITION_CAP_FALLBACK = 7;
       }},
      {"null pre-screen members count as absent", "偏空", Json{{"pre_screen", {{"strategy_hint", nullptr}}}},
       bar({{"Volume_Ratio", 1.1}}), tarnel::BarTable(), expect(1.5, 1.2, 10, 0.5, "弱势档")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto tuned = std::make_shared<TuningConstants>(TuningConstants::default_instance());
    if (row.tune) row.tune(*tuned);
    Service<TuningConstants>::Guard guard(tuned);
    const Json got = _calculate_constraints(row.bias, row.pattern, row.daily, row.weekly);
    // The five fixed members first, in their order; then the breakdown of the base score.
    Json fixed = Json::object();
    for (auto it = got.begin(); it != got.end() && fixed.size() < 5; ++it) fixed[it.key()] = it.value();
    EXPECT_EQ(fixed.dump(), row.expected.dump());
    ASSERT_EQ(got.size(), 6u);
    const Json& parts = got["confidence_breakdown"];
    ASSERT_EQ(parts.size(), 4u);
    double sum = 0.0;
    for (const auto& [name, credit] : parts.items()) sum += credit.get<double>();
    EXPECT_NEAR(sum, got["base_confidence_score"].get<double>(), 1e-9);
  }
}

TEST(Constraints, BrokenTablesFail) {
  auto tuned = std::make_shared<TuningConstants>(TuningConstants::default_instance());
  tuned->REGIME_PARAMS.erase("偏空");
  {
    Service<TuningConstants>::Guard guard(tuned);
    EXPECT_THROW(_calculate_constraints("避险", Json::object(), {}, {}), RuntimeError);
    EXPECT_NO_THROW(_calculate_constraints("偏多", Json::object(), {}, {}));
  }
  // A non-bottom setup with two non-empty tables needs EMA_5 and EMA_20.
  EXPECT_THROW(_calculate_constraints("偏多", Json::object(), bar({{"EMA_5", 1}}), bar({{"EMA_5", 1}})), RuntimeError);
}

// The stock prompt states the ATR caps and regime names the constants must implement.
TEST(Constraints, ConstantsMatchWhatTheStockPromptStates) {
  namespace vellumor = agent::prompts::vellumor;
  const std::regex caps("档位 ATR 上限——偏多 ([0-9.]+) × ATR，震荡 ([0-9.]+) × ATR，偏空 ([0-9.]+) × ATR");
  const std::regex tiers("按 bias 定档：偏多 → (\\S+?)；震荡 → (\\S+?)；偏空或避险 → (\\S+?)。");
  const char* biases[] = {"偏多", "震荡", "偏空"};
  for (auto market : {vellumor::Market::A, vellumor::Market::US, vellumor::Market::HK, vellumor::Market::ETF}) {
    SCOPED_TRACE(std::string(vellumor::market_name(market)));
    const std::string& prompt = vellumor::stock_template(market, vellumor::Form::Full);
    std::smatch cap_match, tier_match;
    ASSERT_TRUE(std::regex_search(prompt, cap_match, caps));
    ASSERT_TRUE(std::regex_search(prompt, tier_match, tiers));
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(biases[i]);
      const Json c = _calculate_constraints(biases[i], Json::object(), {}, {});
      EXPECT_EQ(c["max_stop_dist_atr"].get<double>(), std::stod(cap_match[i + 1]));
      EXPECT_EQ(c["market_regime"], tier_match[i + 1].str());
    }
    EXPECT_EQ(_calculate_constraints("避险", Json::object(), {}, {})["market_regime"], tier_match[3].str());
  }
  // The prompt presents the base score as lying between 0 and 4.5.
  const TuningConstants& c = TuningConstants::default_instance();
  double best_env = 0;
  for (const auto& [bias, credit] : c.MARKET_ENV_SCORES) best_env = std::max(best_env, credit);
  EXPECT_LE(1.0 + 1.0 + best_env + 0.5, 4.5);
}

}  // namespace
}  // namespace quorvel::strategy::ai
