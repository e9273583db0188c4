#include <cmath>
#include <iostream>
#include <map>
#include <regex>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include "offline/stated_claims.h"
#include "offline/stock_prompt_fixture.h"
#include "quorvel/agent/core/stock_agent.h"
#include "quorvel/agent/offline/offline_client.h"
#include "quorvel/agent/offline/offline_stock_analyst.h"
#include "quorvel/agent/schemas/decision.h"
#include "quorvel/agent/schemas/extract.h"
#include "quorvel/agent/schemas/plan_checks.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/run_sync.h"
#include "support/fake_market_data.h"
#include "support/test_support.h"
#include "tarnel/local_market_data.h"
#include "tarnel/rows_json.h"

namespace quorvel::agent::offline {
namespace {

using testing::ConstraintSet;
using testing::StockPromptCase;

const char* bars_file(const std::string& code) {
  if (code == "sh.600519") return "bars/a/sh.600519.csv";
  if (code == "510300") return "bars/etf/510300.csv";
  if (code == "hk.00700") return "bars/hk/00700.csv";
  return "bars/us/AAPL.csv";
}

testing::StockPromptSample sample(const StockPromptCase& c) {
  return testing::make_stock_prompt_sample(testing::bundled_bars(bars_file(c.code)), c);
}

std::string reply_to(const testing::StockPromptSample& s) {
  const auto facts = parse_stock_prompt(s.system_message, s.user_message);
  EXPECT_TRUE(facts);
  return facts ? write_offline_stock_analysis(*facts) : "";
}

// The reply to the sample's prompt rendered with another pattern_info.
std::string reply_with(const testing::StockPromptSample& s, const nlohmann::ordered_json& pattern, const char* market) {
  auto inputs = s.inputs;
  inputs.pattern_info = pattern.dump(2);
  const auto facts = parse_stock_prompt(
      s.system_message, core::MarketStockAgent(market, make_offline_client_bundle()).render_task(inputs));
  EXPECT_TRUE(facts);
  return facts ? write_offline_stock_analysis(*facts) : "";
}

std::size_t count(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (auto p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

// The constraint set of the strong regime as the tuning constants set it.
const ConstraintSet STRONG{1.2, 1.5, 30, 3.0, "强势档"};

// Real instrument-days from the local bar store (raw A-share and fund series adjusted for splits,
// names and lots from the instrument list), spread over each instrument's history, under every
// bias and volatility state, with the constraints and trading rules the AI selector computes.
class OfflineStockWalk : public ::testing::Test {
 protected:
  std::shared_ptr<tarnel::LocalMarketData> data_ = testing::bundled_market_data();
};

// Every decision passes the decision validator and the plan checker's hard checks, and every
// comparison, stack, stop, trailing tier, frame and exit signal the text states holds for its numbers.
TEST_F(OfflineStockWalk, DecisionsKeepTheRulesAndStateOnlyTrueClaims) {
  const std::pair<const char*, const char*> instruments[] = {
      {"sh.600519", "A"}, {"sh.600000", "A"}, {"sh.688981", "A"}, {"sz.300750", "A"}, {"510300", "ETF"},
      {"510050", "ETF"},  {"510880", "ETF"},  {"159928", "ETF"},  {"159949", "ETF"},  {"159819", "ETF"},
      {"159870", "ETF"},  {"159995", "ETF"},  {"512660", "ETF"},  {"512690", "ETF"},  {"512880", "ETF"},
      {"513050", "ETF"},  {"515030", "ETF"},  {"515880", "ETF"},  {"588000", "ETF"},  {"hk.00700", "HK"},
      {"hk.00939", "HK"}, {"hk.01113", "HK"}, {"hk.09988", "HK"}, {"us.AAPL", "US"},  {"us.NVDA", "US"}};
  const char* biases[] = {"偏多", "震荡", "偏空", "避险"};
  const char* regimes[] = {"normal_vol", "high_vol", "low_vol"};
  constexpr std::size_t DAYS = 40, WARM_UP = 130;
  int days = 0, buys = 0, soft = 0;
  std::map<std::string, int> soft_by_check, claims;
  for (std::size_t i = 0; i < std::size(instruments); ++i) {
    const auto [code, market] = instruments[i];
    const tarnel::BarTable history = data_->get_any_ohlc(code, tarnel::DEFAULT_HISTORY_START, "2024-12-31");
    ASSERT_GT(history.rows(), WARM_UP + DAYS) << code;
    for (std::size_t k = 0; k < DAYS; ++k) {
      StockPromptCase c{code, market, history.date_at(WARM_UP + k * (history.rows() - 1 - WARM_UP) / (DAYS - 1)),
                        biases[(i + k) % 4]};
      c.vol_regime = regimes[(i + k / 4) % 3];
      c.real_constraints = true;
      c.name = data_->get_name_from_code(code);
      c.lot = data_->board_lot(code);
      SCOPED_TRACE(c.code + " " + c.date + " " + c.bias + " " + c.vol_regime);
      const auto s = testing::make_stock_prompt_sample(history, c);
      const std::string reply = reply_to(s);
      EXPECT_EQ(count(reply, "```json"), 1u);
      const auto map = schemas::extract_decision_json(reply);
      ASSERT_TRUE(map) << reply;
      const auto d = schemas::StockDecision::from_map(*map);
      const auto pattern = nlohmann::ordered_json::parse(s.inputs.pattern_info);
      ++days;
      const auto checks = schemas::check_plan(d, pattern);
      EXPECT_FALSE(schemas::review_required(checks))
          << fmt::format("{}", fmt::join(schemas::failed_check_lines(checks), "\n"));
      for (const auto& check : checks)
        if (!check.passed && !check.hard) ++soft, ++soft_by_check[check.name];
      const auto stated =
          testing::check_stated_claims(reply, {parse_bar_json(s.inputs.stock_data), pattern, c.bias, d});
      EXPECT_TRUE(stated.false_claims.empty()) << fmt::format("{}", fmt::join(stated.false_claims, "\n")) << "\n"
                                               << reply;
      for (const auto& [family, n] : stated.checked) claims[family] += n;
      if (d.action == "观望等待") {
        EXPECT_EQ(d.rrr, 0.0);
        EXPECT_EQ(d.position_pct, "0%");
        continue;
      }
      ++buys;
      EXPECT_NE(c.bias, "避险");
      EXPECT_NE(d.direction, "看空");
      EXPECT_TRUE(std::regex_match(d.holding_period, std::regex("[0-9]+个交易日"))) << d.holding_period;
    }
  }
  std::cout << fmt::format("[offline walk] instrument-days {}, buys {}, waits {}, soft-check failures {} {}\n", days,
                           buys, days - buys, soft, fmt::join(soft_by_check, ", "))
            << fmt::format("[offline walk] claims checked {}\n", fmt::join(claims, ", "));
  EXPECT_GE(days, 200);
  EXPECT_GT(buys, 0);  // both paths are exercised
  EXPECT_GT(days - buys, 0);
  for (const char* family : {"比较", "均线排列", "止损", "移动止损", "框架", "离场信号"})
    EXPECT_GT(claims[family], 0) << family;
}

// The reply opens with its label and carries every framework heading of the market's prompt, in order.
TEST(OfflineStock, ReplyCarriesEveryStepHeadingOfItsMarket) {
  const StockPromptCase cases[] = {{"sh.600519", "A", "2023-02-10"},
                                   {"510300", "ETF", "2023-02-10"},
                                   {"hk.00700", "HK", "2023-11-07"},
                                   {"us.AAPL", "US", "2022-12-30"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.market);
    const auto s = sample(c);
    const std::string reply = reply_to(s);
    EXPECT_EQ(reply.rfind(OFFLINE_ANALYSIS_LABEL, 0), 0u);
    const auto headings = step_headings(s.system_message);
    ASSERT_EQ(headings.size(), 15u);
    std::size_t at = 0;
    for (const auto& h : headings) {
      const auto found = reply.find("\n" + h.line + "\n", at);
      EXPECT_NE(found, std::string::npos) << h.line;
      if (found != std::string::npos) at = found + 1;
    }
    EXPECT_EQ(reply.find("<think>"), std::string::npos);
    EXPECT_EQ(reply.find("{{"), std::string::npos);
    EXPECT_TRUE(reply.ends_with("}\n```\n"));
  }
}

// A buy is sized, priced or refused by the trading rules the prompt states: the effective cap, a
// zero cap and its reason, the next session's limit prices.
TEST(OfflineStock, BuysFollowTheTradingRules) {
  const auto s = sample({"us.AAPL", "US", "2019-10-17", "偏多", STRONG});
  const auto decision_of = [](const std::string& reply) {
    const auto map = schemas::extract_decision_json(reply);
    return map ? schemas::StockDecision::from_map(*map) : schemas::StockDecision{};
  };
  const auto base = decision_of(reply_to(s));
  ASSERT_EQ(base.action, "谨慎买入");  // the rows change only the rules of a day that is a buy as given
  const double mid = (base.entry_price_low + base.entry_price_high) / 2;
  const struct {
    const char* label;
    nlohmann::ordered_json rules;  // members replaced in trading_rules
    const char* stated;
    bool buy;
  } rows[] = {
      {"effective cap",
       {{"effective_max_position_pct", 4}, {"position_caps", {{"max_position_pct", 30}, {"liquidity", 4}}}},
       "effective_max_position_pct 4%",
       true},
      {"zero cap",
       {{"effective_max_position_pct", 0}, {"position_caps", {{"max_position_pct", 30}, {"liquidity", 0}}}},
       "liquidity 0%（成交额过低",
       false},
      {"limit band", {{"limit_band_pct", 10}, {"limit_down", mid}, {"limit_up", mid * 1.2}}, "按次日跌停价", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    auto pattern = nlohmann::ordered_json::parse(s.inputs.pattern_info);
    pattern["trading_rules"].update(row.rules);
    const std::string reply = reply_with(s, pattern, "US");
    EXPECT_NE(reply.find(row.stated), std::string::npos) << reply;
    const auto d = decision_of(reply);
    EXPECT_EQ(d.action != "观望等待", row.buy);
    EXPECT_FALSE(schemas::review_required(schemas::check_plan(d, pattern)));
    EXPECT_LE(schemas::position_percent(d.position_pct),
              pattern["trading_rules"]["effective_max_position_pct"].get<double>());
  }
}

// Members that pattern_info lacks or holds as null are reported as missing and never stand in for
// data: without constraints there is no buy.
TEST(OfflineStock, MissingPatternMembersAreReportedAsMissing) {
  const struct {
    const char* member;
    const char* reported;
  } rows[] = {{"price_context", "、price_context"},
              {"risk_flags", "**risk_flags**：缺失"},
              {"calculated_constraints", "calculated_constraints 缺失"},
              {"zx_quant_signals", "zx_quant_signals 缺失"},
              {"market_context", "vol_regime=缺失"},
              {"classic_pivot_points", "classic_pivot_points"},
              {"trading_rules", "、trading_rules"}};
  StockPromptCase c{"sh.600519", "A", "2023-02-10", "偏多", STRONG};
  const auto s = sample(c);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.member);
    auto pattern = nlohmann::ordered_json::parse(s.inputs.pattern_info);
    pattern[row.member] = nullptr;
    const std::string reply = reply_with(s, pattern, "A");
    EXPECT_NE(reply.find(row.reported), std::string::npos) << reply;
    EXPECT_NE(reply.find("universe_rank（" + s.daily.last_date() + " 尚未运行市场筛选）"),
              std::string::npos);  // with its reason
    const auto map = schemas::extract_decision_json(reply);
    ASSERT_TRUE(map);
    if (std::string(row.member) == "calculated_constraints") {
      EXPECT_EQ((*map)["action"], "观望等待");
    }
  }
}

// Thin or broken inputs still give a valid wait decision, never a crash or a made-up buy.
TEST(OfflineStock, DegenerateInputsGiveAValidWaitDecision) {
  StockPromptCase c{"sh.600519", "A", "2023-02-10", "偏多", STRONG};
  const auto s = sample(c);
  const struct {
    const char* label;
    std::size_t daily_rows, weekly_rows;
    const char* pattern;  // nullptr keeps the sample's
    const char* brief;
    const char* reported;
  } rows[] = {{"10 daily bars", 10, 20, nullptr, nullptr, "数据不足，分析结论置信度强制降为低"},
              {"no bars", 0, 0, nullptr, nullptr, "日线数据、周线数据"},
              {"no weekly bars", 60, 0, nullptr, nullptr, "周线数据或周线 EMA 缺失"},
              {"empty pattern", 60, 20, "{}", nullptr, "calculated_constraints 缺失"},
              {"unreadable pattern", 60, 20, "not json", nullptr, "pattern_info、"},
              {"no brief verdict", 60, 20, nullptr, "", "大盘简报中未找到研判结论，按震荡处理"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    auto in = s.inputs;
    in.stock_data = tarnel::rows_to_json(s.daily.tail(row.daily_rows));
    in.stock_week_data = tarnel::rows_to_json(s.weekly.tail(row.weekly_rows));
    if (row.daily_rows == 0) in.stock_data = "[]";
    if (row.pattern) in.pattern_info = row.pattern;
    if (row.brief) in.market_ai_brief = row.brief;
    const auto facts =
        parse_stock_prompt(s.system_message, core::MarketStockAgent("A", make_offline_client_bundle()).render_task(in));
    ASSERT_TRUE(facts);
    const std::string reply = write_offline_stock_analysis(*facts);
    EXPECT_NE(reply.find(row.reported), std::string::npos) << reply;
    const auto map = schemas::extract_decision_json(reply);
    ASSERT_TRUE(map) << reply;
    EXPECT_NO_THROW(schemas::StockDecision::from_map(*map));
    if (std::string(row.label) != "no brief verdict") {
      EXPECT_EQ((*map)["action"], "观望等待");
    }
  }
}

TEST(OfflineStockPrompt, ReadsBothBarLayoutsAndTheBriefBias) {
  const auto compact = parse_bar_json(
      R"({"columns":["Date","close","ATR"],"rows":[["2023-02-09",7.26,null],["bad",1,1],["2023-02-10",7.24,0.12]]})");
  const auto objects = parse_bar_json(
      R"([{"Date":"2023-02-09","close":7.26,"ATR":null},{"Date":"2023-02-10","close":7.24,"ATR":0.12}])");
  for (const auto* t : {&compact, &objects}) {
    ASSERT_EQ(t->rows(), 2u);
    EXPECT_EQ(t->last_date(), "2023-02-10");
    EXPECT_EQ(t->last("ATR"), 0.12);
    EXPECT_TRUE(std::isnan(t->column("ATR")[0]));
  }
  for (const char* bad : {"[]", "", "{}", "not json", R"({"columns":["close"],"rows":[[1]]})"})
    EXPECT_TRUE(parse_bar_json(bad).empty()) << bad;

  const struct {
    const char* brief;
    std::optional<std::string> bias;
  } briefs[] = {{"**▋ A 股大盘市场研判 · 偏空 / 中**", "偏空"},
                {"▋ 港股市场研判·[避险 / 强]", "避险"},
                {"市场研判 : 偏多", std::nullopt},
                {"无结论\n市场研判 · 震荡 / 弱\n市场研判 · 偏多 / 强", "震荡"},
                {"", std::nullopt}};
  for (const auto& b : briefs) {
    SCOPED_TRACE(b.brief);
    EXPECT_EQ(brief_bias(b.brief), b.bias);
  }
}

TEST(OfflineStockPrompt, ClientAnswersTheStockPrompt) {
  const auto s = sample({"hk.00700", "HK", "2023-11-07"});
  OfflineModelClient client;
  const auto reply = run_sync(client.create({{"system", s.system_message}, {"user", s.user_message}}));
  EXPECT_EQ(reply.model, "offline-rules");
  EXPECT_TRUE(schemas::extract_decision_json(reply.content));
  EXPECT_FALSE(parse_stock_prompt("", "分析一下 sh.600000"));
}

}  // namespace
}  // namespace quorvel::agent::offline
