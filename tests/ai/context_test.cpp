// Market bias from the brief, the strategy-signal context and the small context rules of an analysis.
#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "quorvel/strategy/ai/analysis_context.h"
#include "quorvel/strategy/ai/date_alignment.h"
#include "quorvel/strategy/ai/indicator_columns.h"
#include "quorvel/strategy/ai/market_bias.h"
#include "quorvel/strategy/ai/signal_context.h"
#include "support/fake_market_data.h"
#include "support/scripted_pattern_service.h"

namespace quorvel::strategy::ai {
namespace {

using Json = nlohmann::ordered_json;

TEST(MarketBias, ReadsTheFirstBracketedVerdict) {
  const std::pair<const char*, const char*> rows[] = {
      {"**▋ A 股大盘市场研判 · [偏空 / 中]**\n正文", "偏空"},
      {"▋ 港股市场研判·[避险 / 强]", "避险"},
      {"市场研判\u3000·\u00a0\n[偏多/弱]", "偏多"},    // Unicode white space around the dot
      {"**▋ A 股大盘市场研判 · 偏空 / 中**", "偏空"},  // the heading as the brief writer writes it
      {"**▋ 美股大盘市场研判 · 关注 偏多**", "震荡"},  // not the bias word right after the dot
      {"", "震荡"},
      {"市场研判 · [偏多 / 中]\n市场研判 · [偏空 / 强]", "偏多"},
      {"市场研判 · [看多 / 中]", "震荡"},
      {"市场研判 · [偏空\xff", "震荡"},  // not UTF-8: not searched
  };
  for (const auto& [brief, bias] : rows) {
    SCOPED_TRACE(brief);
    EXPECT_EQ(_extract_market_bias(brief), bias);
  }
}

enum class OlderEngineSet { ENGINE1_TREND, ENGINE2_REVERSAL, ENGINE3_KAUFMAN };

TEST(SignalContext, EnginesPerMarketAndTheirRecords) {
  const auto names = [](const auto& plan) {
    std::string out = plan.status;
    for (const auto& e : plan.engines) out += " " + e.first;
    return out;
  };
  EXPECT_EQ(names(plan_engines<zerith::StrategyEngine>("ETF")),
            "available ENGINE1_TREND ENGINE2_REVERSAL ENGINE3_KAUFMAN");
  EXPECT_EQ(names(plan_engines<zerith::StrategyEngine>("US")), "available US_DUAL_CORE");
  EXPECT_EQ(names(plan_engines<OlderEngineSet>("US")), "unsupported_version");

  auto patterns = std::make_shared<testing::ScriptedPatternService>();
  Service<zerith::PatternService>::Guard guard(patterns);
  zerith::SignalEvent& trend = patterns->signals[zerith::StrategyEngine::ENGINE1_TREND];
  trend.strategy_name = "ENGINE1 趋势跟随";
  trend.date = "2023-02-10";
  trend.buy_signal = true;
  trend.signal_tier = "A";
  trend.state = "多头趋势";
  trend.stop_loss = 1750.5;
  trend.details = {{"adx", 27.1}};
  const Json a = _build_strategy_signal_context({}, "sh.600519", "A");
  EXPECT_EQ(a["engines"]["ENGINE1_TREND"].dump(),
            R"({"strategy_name":"ENGINE1 趋势跟随","date":"2023-02-10","buy_signal":true,"sell_signal":false,)"
            R"("signal_tier":"A","state":"多头趋势","stop_loss":1750.5,"take_profit":null,"reason":"",)"
            R"("details":{"adx":27.1}})");
  EXPECT_EQ(a["status"], "available");
  EXPECT_EQ(a["engines"].size(), 2u);
  EXPECT_EQ(_build_strategy_signal_context({}, "hk.00700", "HK").dump(),
            R"({"status":"unsupported_market","market":"HK"})");
  EXPECT_THROW(_build_strategy_signal_context({}, "zz.1", std::nullopt), TypeError);
}

TEST(AnalysisContext, AgentTypeStrategyLineAndPatternText) {
  const std::tuple<const char*, std::optional<std::string>, const char*> agents[] = {
      {"510050", "ETF", "ETF"}, {"sh.510050", "A", "A"},        {"etf.510050", std::nullopt, "ETF"},
      {"hk.00700", "HK", "HK"}, {"5100501", std::nullopt, "A"}, {"us.AAPL", "", "A"}};
  for (const auto& [code, market, agent] : agents) {
    SCOPED_TRACE(code);
    EXPECT_EQ(agent_type_for(code, market), agent);
  }
  const std::pair<Json, const char*> lines[] = {
      {{{"pre_screen", {{"strategy_hint", "bottom"}}}, {"strategy_type", "底部反转"}}, "筛选策略: bottom\n"},
      {{{"pre_screen", {{"strategy_hint", ""}}}, {"strategy_type", "趋势跟随"}}, "筛选策略: 趋势跟随\n"},
      {{{"pre_screen", "broken"}, {"strategy_type", "趋势跟随"}}, ""},
      {Json::object(), ""},
  };
  for (const auto& [pattern, line] : lines) {
    SCOPED_TRACE(pattern.dump());
    EXPECT_EQ(strategy_line(pattern), line);
  }
  EXPECT_EQ(parse_pattern_info("{\"a\": 1}").dump(), R"({"a":1})");
  EXPECT_EQ(parse_pattern_info("not json").dump(), "{}");
  EXPECT_EQ(parse_pattern_info("[1, 2]").dump(), "{}");
}

TEST(AnalysisContext, DayChangeDateAndVwmaWarmUp) {
  const std::tuple<double, double, const char*> changes[] = {
      {10.0, 10.1234, "+1.23"}, {10.0, 9.95, "-0.50"}, {10.0, 10.0, "+0.00"}, {0.0, 10.0, "0.00"}};
  for (const auto& [prev_close, price, pct] : changes) {
    SCOPED_TRACE(pct);
    const auto bars =
        testing::BarsBuilder().day("2023-02-09", 1, 1, 1, prev_close, 1).day("2023-02-10", 1, 1, 1, price, 1);
    EXPECT_EQ(align_analysis_date(bars.build(), price, "2023-02-10").pct_change, pct);
  }
  const AlignedDate saturday =
      align_analysis_date(testing::BarsBuilder().day("2024-06-07", 1, 1, 1, 5, 1).build(), 6.0, "2024-06-08");
  EXPECT_EQ(saturday.a_time + " " + saturday.pct_change, "2024-06-07 0.00");

  const auto b19 = testing::BarsBuilder().series("2023-01-02", 19).build();
  EXPECT_EQ(vwma(b19), b19.column("close"));
  const auto b20 = testing::BarsBuilder().series("2023-01-02", 20).build();
  double turnover = 0, volume = 0;
  for (std::size_t i = 0; i < 20; ++i) {
    turnover += b20.at("close", i) * b20.at("volume", i);
    volume += b20.at("volume", i);
  }
  EXPECT_TRUE(std::isnan(vwma(b20)[18]));
  EXPECT_NEAR(vwma(b20)[19], turnover / volume, 1e-9);
}

}  // namespace
}  // namespace quorvel::strategy::ai
