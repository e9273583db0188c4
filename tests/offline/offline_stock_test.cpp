#include <cmath>
#include <regex>

#include <gtest/gtest.h>

#include "offline/stock_prompt_fixture.h"
#include "quorvel/agent/core/stock_agent.h"
#include "quorvel/agent/offline/offline_client.h"
#include "quorvel/agent/offline/offline_stock_analyst.h"
#include "quorvel/agent/schemas/decision.h"
#include "quorvel/agent/schemas/extract.h"
#include "support/fake_market_data.h"
#include "quorvel/utils/run_sync.h"
#include "tarnel/rows_json.h"

namespace quorvel::agent::offline {
namespace {

using testing::ConstraintSet;
using testing::StockPromptCase;

const char* bars_file(const std::string& code) {
  if (code == "sh.600519") return "bars/a/sh.600519.csv";
  if (code == "sz.300750") return "bars/a/sz.300750.csv";
  if (code == "510300") return "bars/etf/510300.csv";
  if (code == "159949") return "bars/etf/159949.csv";
  if (code == "hk.00700") return "bars/hk/00700.csv";
  if (code == "hk.09988") return "bars/hk/09988.csv";
  if (code == "us.AAPL") return "bars/us/AAPL.csv";
  return "bars/us/NVDA.csv";
}

testing::StockPromptSample sample(const StockPromptCase& c) {
  return testing::make_stock_prompt_sample(testing::bundled_bars(bars_file(c.code)), c);
}

std::string reply_to(const testing::StockPromptSample& s) {
  const auto facts = parse_stock_prompt(s.system_message, s.user_message);
  EXPECT_TRUE(facts);
  return facts ? write_offline_stock_analysis(*facts) : "";
}

std::size_t count(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (auto p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

// The constraint sets of the three regimes as the tuning constants set them (避险 takes the 偏空 set),
// and a tight one.
const ConstraintSet STRONG{1.2, 1.5, 30, 3.0, "强势档"}, NEUTRAL{1.3, 1.8, 20, 2.5, "中性档"},
    WEAK{1.5, 1.2, 10, 1.0, "弱势档"}, TIGHT{3.0, 1.0, 15, 4.0, "强势档"};

// Every decision on real bars passes the decision validator and keeps the hard constraints.
TEST(OfflineStock, DecisionsPassValidationAndKeepTheConstraints) {
  const struct {
    std::string code, market, bias;
    ConstraintSet constraints;
    std::vector<std::string> dates;
  } rows[] = {
      {"sh.600519", "A", "偏多", STRONG, {"2017-01-12", "2019-04-22", "2021-08-30", "2023-02-10", "2024-07-09"}},
      {"sh.600519", "A", "避险", WEAK, {"2017-01-12", "2019-04-22"}},
      {"sz.300750", "A", "震荡", NEUTRAL, {"2020-11-10", "2021-06-30", "2022-08-25"}},
      {"510300", "ETF", "偏多", STRONG, {"2016-07-25", "2020-01-20", "2022-03-29", "2023-02-10"}},
      {"159949", "ETF", "偏空", WEAK, {"2019-11-29", "2021-01-18", "2022-04-26"}},
      {"hk.00700", "HK", "偏多", STRONG, {"2019-06-17", "2021-09-09", "2023-11-06"}},
      {"hk.09988", "HK", "避险", WEAK, {"2021-02-17", "2022-03-16"}},
      {"us.AAPL", "US", "偏多", STRONG, {"2017-11-16", "2019-11-21", "2022-04-07", "2022-08-19", "2022-12-30"}},
      {"us.NVDA", "US", "偏多", TIGHT, {"2017-07-10", "2020-07-15", "2022-11-28"}},
  };
  int buys = 0, waits = 0;
  for (const auto& row : rows)
    for (const auto& date : row.dates) {
      SCOPED_TRACE(row.code + " " + date + " " + row.bias);
      StockPromptCase c{row.code, row.market, date, row.bias, row.constraints};
      const auto s = sample(c);
      const std::string reply = reply_to(s);
      EXPECT_EQ(count(reply, "```json"), 1u);
      const auto map = schemas::extract_decision_json(reply);
      ASSERT_TRUE(map) << reply;
      const auto d = schemas::StockDecision::from_map(*map);
      EXPECT_EQ(d.stock_code, row.code);
      EXPECT_EQ(d.market_sentiment, row.bias == "偏多" ? "看多" : row.bias == "偏空" ? "看空" : "中性");
      if (d.action == "观望等待") {
        ++waits;
        EXPECT_EQ(d.rrr, 0.0);
        EXPECT_EQ(d.rrr_max, 0.0);
        EXPECT_EQ(d.position_pct, "0%");
        continue;
      }
      ++buys;
      const auto& k = row.constraints;
      EXPECT_NE(row.bias, "避险");
      EXPECT_NE(d.direction, "看空");
      EXPECT_GE(d.rrr, k.min_rrr);
      EXPECT_NEAR(d.rrr, (d.target_1 - d.entry_price_high) / (d.entry_price_high - d.stop_loss), 1e-3);
      // ATR as the prompt carries it (rounded like every price difference in the bar JSON).
      const double atr = parse_bar_json(s.inputs.stock_data).last("ATR");
      EXPECT_LE(d.entry_price_high - d.stop_loss, k.max_stop_dist_atr * atr + 1e-9);
      EXPECT_LE(std::stoi(d.position_pct), k.max_position_pct);
      EXPECT_GE(std::stoi(d.position_pct), 1);
      EXPECT_LT(d.stop_loss, d.entry_price_low);
      EXPECT_LE(d.entry_price_low, d.entry_price_high);
      EXPECT_LT(d.entry_price_high, d.target_1);
      EXPECT_LT(d.target_1, d.target_2);
      EXPECT_GE(d.entry_price_low, d.current_price * 0.92);
      EXPECT_TRUE(std::regex_match(d.holding_period, std::regex("[0-9]+个交易日"))) << d.holding_period;
    }
  EXPECT_GT(buys, 0);  // both paths are exercised
  EXPECT_GT(waits, 0);
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
              {"classic_pivot_points", "classic_pivot_points"}};
  StockPromptCase c{"sh.600519", "A", "2023-02-10", "偏多", STRONG};
  const auto s = sample(c);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.member);
    auto pattern = nlohmann::ordered_json::parse(s.inputs.pattern_info);
    pattern[row.member] = nullptr;
    auto inputs = s.inputs;
    inputs.pattern_info = pattern.dump(2);
    const auto facts = parse_stock_prompt(
        s.system_message, core::MarketStockAgent("A", make_offline_client_bundle()).render_task(inputs));
    ASSERT_TRUE(facts);
    const std::string reply = write_offline_stock_analysis(*facts);
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
  const auto reply =
      run_sync(client.create({{"system", s.system_message}, {"user", s.user_message}}));
  EXPECT_EQ(reply.model, "offline-rules");
  EXPECT_TRUE(schemas::extract_decision_json(reply.content));
  EXPECT_FALSE(parse_stock_prompt("", "分析一下 sh.600000"));
}

}  // namespace
}  // namespace quorvel::agent::offline
