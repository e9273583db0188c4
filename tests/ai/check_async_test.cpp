// The AI analysis end to end on real bundled bars with a scripted agent, pattern service and store.
#include <gtest/gtest.h>

#include "support/decision_replies.h"
#include "contracts/clock.h"
#include "quorvel/agent/core/summary_report.h"
#include "quorvel/indicators/status_computation.h"
#include "quorvel/strategy/ai/basic_ai_selector.h"
#include "quorvel/strategy/technical/combined_selector.h"
#include "support/fake_market_data.h"
#include "support/fake_report_store.h"
#include "quorvel/utils/run_sync.h"
#include "support/scripted_agent_layer.h"
#include "support/scripted_pattern_service.h"
#include "support/test_support.h"
#include "contracts/dates.h"

namespace quorvel::strategy::ai {
namespace {

using Json = nlohmann::ordered_json;
using indicators::TradeEnum;
using testing::decision_reply;

const std::string BRIEF = "**▋ A 股大盘市场研判 · [偏空 / 中]**\n正文";

class CheckAsync : public ::testing::Test {
 protected:
  void SetUp() override {
    data->bars["sh.600519"] = testing::bundled_bars("bars/a/sh.600519.csv")
                                  .slice(tarnel::parse_date("2022-01-01"), tarnel::parse_date("2023-02-10"));
    data->names["sh.600519"] = "贵州茅台";
    patterns->scan = {{"strategy_type", "趋势跟随"}, {"pre_screen", {{"strategy_hint", "trend_follow"}}}};
    llm->summary_writer = agent::core::build_summary_markdown_report;
    llm->stock_reply = [](const agent::StockAnalysisInputs&) { return decision_reply(); };
  }
  AIAnalysisRequest request(const std::string& code = "sh.600519", std::string pattern_info = "{}") {
    const tarnel::BarTable df = data->bars[code];
    return {indicators::get_stock_status(df, code), df, std::move(pattern_info), "COMBINED", "2023-02-11", BRIEF, ""};
  }
  AIAnalysisResult analyze(AIAnalysisRequest r) {
    return run_sync(BasicAISelector().check_async(std::move(r)));
  }
  std::vector<std::filesystem::path> audit_files() const {
    std::vector<std::filesystem::path> out;
    if (std::filesystem::exists(dir / "audit"))
      for (const auto& e : std::filesystem::directory_iterator(dir / "audit")) out.push_back(e.path());
    return out;
  }

  testing::TempDir dir;
  testing::ScopedEnv report_dir{"REPORT_DIR", dir.path().string()};
  std::shared_ptr<testing::FakeMarketData> data = std::make_shared<testing::FakeMarketData>();
  Service<tarnel::MarketData>::Guard data_guard{data};
  std::shared_ptr<testing::ScriptedPatternService> patterns = std::make_shared<testing::ScriptedPatternService>();
  Service<zerith::PatternService>::Guard pattern_guard{patterns};
  std::shared_ptr<testing::FakeReportStore> store = std::make_shared<testing::FakeReportStore>();
  Service<report::ReportStore>::Guard store_guard{store};
  std::shared_ptr<testing::ScriptedAgentLayer> llm = std::make_shared<testing::ScriptedAgentLayer>();
  Service<agent::AgentLayer>::Guard llm_guard{llm};
  Service<Clock>::Guard clock_guard{std::make_shared<FixedClock>(
      std::chrono::system_clock::time_point(date::sys_days(date::year{2023} / 2 / 13)), date::year{2023} / 2 / 13)};
  testing::LogCapture log;
};

TEST_F(CheckAsync, AnalyzesStoresAndReadsTheVerdict) {
  const AIAnalysisResult r = analyze(request("sh.600519", patterns->scan.dump()));
  EXPECT_EQ(r.trade_enum, TradeEnum::BUY);
  EXPECT_EQ(r.trader_response, decision_reply());
  EXPECT_FALSE(data->bars["sh.600519"].has_column("EMA_5"));  // the caller's bars are untouched
  ASSERT_EQ(llm->analyses.size(), 1u);
  const agent::StockAnalysisInputs& in = llm->analyses[0];
  EXPECT_EQ(in.analysis_time + " " + in.pct_change + " " + in.current_price + " " + in.stock_name,
            "2023-02-10 -0.44 1810.0 贵州茅台");
  EXPECT_EQ(in.selector_source, "筛选策略: trend_follow\nCOMBINED");
  const Json sent = Json::parse(in.pattern_info);
  EXPECT_EQ(sent["zx_quant_signals"]["status"], "available");
  EXPECT_EQ(sent["calculated_constraints"]["market_regime"], "弱势档");                       // the brief says 偏空
  EXPECT_NE(in.pattern_info.find("\n  \"strategy_type\": \"趋势跟随\""), std::string::npos);  // two-space indent
  EXPECT_TRUE(patterns->scans.empty());

  ASSERT_EQ(store->analyses.size(), 1u);
  ASSERT_EQ(store->summaries.size(), 1u);
  const report::AnalysisReport& a = store->analyses[0];
  EXPECT_EQ(a.content + a.analysis_time + *a.market_type + a.llm_model, r.trader_response + "2023-02-10Afake-model");
  EXPECT_EQ(store->summaries[0].content, r.summary_response);
  EXPECT_EQ(store->summaries[0].current_price, 1810.0);
  EXPECT_EQ(store->flushes + llm->closes, 2);
  EXPECT_EQ(sent["trading_rules"]["effective_max_position_pct"], 10.0);  // the regime cap; no tighter rule
  ASSERT_TRUE(a.plan_checks && a.plan_checks->is_array());
  EXPECT_TRUE(a.review_required);  // the sample's reward/risk from its entry high is 75 / 55 < min_rrr 1.5
  const auto files = audit_files();  // one audit per analysis, with what replays it
  ASSERT_EQ(files.size(), 1u);
  const Json audit = Json::parse(testing::read_file(files[0]));
  EXPECT_EQ(audit["outcome"], "已存储");
  EXPECT_EQ(audit["reply"], r.trader_response);
  EXPECT_EQ(audit["decision"], *a.decision);
  EXPECT_EQ(audit["plan_checks"], *a.plan_checks);
  EXPECT_EQ(audit["trading_rules"], sent["trading_rules"]);
  EXPECT_EQ(audit["calculated_constraints"], sent["calculated_constraints"]);
  for (const char* line : {
           "info|[Agent选择] stock=sh.600519 market_type=A -> agent_type=A",
           "info|[逻辑左移] 约束注入: bias=偏空, min_rrr=1.5, base_score=",
           "info|开始分析股票 sh.600519 (贵州茅台) 在 2023-02-11",
           "info|[日期自动校准] 输入日期 2023-02-11 无交易数据，校准为最后交易日: 2023-02-10",
           "info|[数据状态] 标的数据最后日期: 2023-02-10 (目标: 2023-02-11), 涨幅: -0.44%",
           "warning|[预筛对账] sh.600519 strategy_hint=trend_follow 与 AI strategy_mode=底部反转 前提不一致",
           "/ max_position_pct=10.0 按预筛假设计算",
           "info|正在异步存储分析结果: sh.600519",
           "info|总结分析报告: > **LLM**: fake-model",
       }) {
    EXPECT_TRUE(log.contains(line)) << line;
  }
}

TEST_F(CheckAsync, FailuresFromTheLlmCallOnGiveWatchAndKeepAPaidReply) {
  const std::tuple<const char*, std::string, bool> rows[] = {
      // name, reply ("": the call fails), store fails
      {"analysis_time", decision_reply({{"analysis_time", nullptr}}), false},  // fails validation
      {"direction", decision_reply({{"direction", Json::array({"看多"})}}), false},
      {"store down", decision_reply(), true},
      {"quota exceeded", "", false},
  };
  for (const auto& [error, reply, store_fails] : rows) {
    SCOPED_TRACE(error);
    for (const auto& f : audit_files()) std::filesystem::remove(f);
    store->fail = store_fails;
    llm->stock_reply = [&](const agent::StockAnalysisInputs&) -> std::string {
      if (reply.empty()) throw std::runtime_error("quota exceeded");
      return reply;
    };
    const AIAnalysisResult r = analyze(request());
    EXPECT_EQ(r.trade_enum, TradeEnum::WATCH);
    EXPECT_EQ(r.summary_response.rfind("分析出错: ", 0), 0u);
    EXPECT_NE(r.summary_response.find(error), std::string::npos) << r.summary_response;
    EXPECT_EQ(r.trader_response, "");
    EXPECT_TRUE(store->analyses.empty());
    EXPECT_TRUE(log.contains("error|AI分析股票 sh.600519 出错: "));
    const auto files = audit_files();
    ASSERT_EQ(files.size(), reply.empty() ? 0u : 1u);
    if (files.empty()) continue;
    const Json audit = Json::parse(testing::read_file(files[0]));
    EXPECT_EQ(audit["reply"], reply);
    EXPECT_EQ(audit["outcome"].get<std::string>().rfind("出错: ", 0), 0u);
    EXPECT_EQ(files[0].filename().string().rfind("sh.600519_2023-02-10_20230213T000000", 0), 0u);
    EXPECT_TRUE(log.contains(files[0].string()));
  }
  EXPECT_EQ(llm->closes, 4);  // released after every failure too
}

TEST_F(CheckAsync, PlansThatBreakTheRulesAreStoredForReview) {
  const struct {
    const char* name;
    const char* bias;
    Json changes;
    std::vector<std::string> failed_hard;
  } rows[] = {
      {"a buy on a risk-off day", "避险", Json::object(), {"zero_cap", "position_cap"}},
      {"a position over the cap", "偏空", {{"position_pct", "30%"}}, {"position_cap"}},
      {"an entry beyond the next limit-up (1991.00)", "偏空",
       {{"entry_price_low", 1985}, {"entry_price_high", 2000}, {"stop_loss", 1960}, {"target_1", 2100},
        {"target_2", 2200}},
       {"limit_band"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    store->analyses.clear();
    Json changes{{"stop_loss", 1770}};  // reward/risk 2.14 and 0.85 ATR of risk: within the limits
    changes.merge_patch(row.changes);
    llm->stock_reply = [=](const agent::StockAnalysisInputs&) { return decision_reply(changes); };
    AIAnalysisRequest req = request();
    req.market_ai_brief = std::string("**▋ A 股大盘市场研判 · [") + row.bias + " / 中]**\n正文";
    const AIAnalysisResult r = analyze(std::move(req));
    ASSERT_EQ(store->analyses.size(), 1u);
    const report::AnalysisReport& a = store->analyses[0];
    EXPECT_TRUE(a.review_required);
    EXPECT_EQ((*a.decision)["action"], "建议买入");  // the model's decision is kept as it was given
    std::vector<std::string> failed;
    for (const auto& c : *a.plan_checks)
      if (c["level"] == "hard" && !c["passed"].get<bool>()) failed.push_back(c["name"]);
    EXPECT_EQ(failed, row.failed_hard);
    EXPECT_NE(r.summary_response.find("###### 🧾 规则核验（需复核）"), std::string::npos) << r.summary_response;
    EXPECT_LT(r.summary_response.find("规则核验"), r.summary_response.find("*免责声明"));
    EXPECT_TRUE(log.contains("warning|[规则核验] sh.600519 2023-02-10 需复核: "));
  }
}

TEST_F(CheckAsync, ReplyWithoutDecisionFallsBackToTheWaitNote) {
  llm->stock_reply = [](const agent::StockAnalysisInputs&) { return std::string("只有分析，没有决策。"); };
  llm->stock_model_name.reset();
  llm->fail_close = true;
  const AIAnalysisResult r = analyze(request("sh.600519", "not json"));
  EXPECT_EQ(r.summary_response, "> **LLM**: quorvel-quant\n\n未能成功提取到决策，建议继续观望。");
  EXPECT_EQ(r.trade_enum, TradeEnum::WATCH);
  ASSERT_EQ(store->summaries.size(), 1u);
  EXPECT_EQ(store->analyses[0].llm_model + store->summaries[0].llm_model, "");
  EXPECT_TRUE(log.contains("debug|关闭 LLM 客户端失败: already closed"));
  const Json sent = Json::parse(llm->analyses[0].pattern_info);  // broken text: an empty map, enriched
  EXPECT_EQ(sent.size(), 3u);
  EXPECT_TRUE(sent.contains("zx_quant_signals") && sent.contains("calculated_constraints") &&
              sent.contains("trading_rules"));
  EXPECT_EQ(llm->analyses[0].selector_source, "COMBINED");
}

TEST_F(CheckAsync, ScansItselfAndRejectsAnInstrumentWithoutMarket) {
  AIAnalysisRequest empty = request("sh.600519", "");
  empty.df = tarnel::BarTable::with_base_columns();
  analyze(empty);
  ASSERT_EQ(patterns->scans.size(), 1u);
  EXPECT_EQ(patterns->scans[0].symbol + " " + patterns->scans[0].mode, "sh.600519 all");
  EXPECT_EQ(patterns->scans[0].min_score, 5);
  EXPECT_TRUE(log.contains("warning|[数据不足] sh.600519: 周线数据为空，中期趋势分析将缺失"));
  EXPECT_EQ(llm->analyses.back().stock_data + llm->analyses.back().pct_change, "[]0.00");

  data->bars["zz.1"] = data->bars["sh.600519"];
  EXPECT_THROW(analyze(request("zz.1")), TypeError);  // no market type: stops before the LLM call
  EXPECT_EQ(llm->analyses.size(), 1u);
}

TEST_F(CheckAsync, BothFormsOfCheck) {
  BasicAISelector selector;
  const SelectorCheckResult rule = selector.check("sh.600519", "2022-01-01", "2023-02-10");
  const SelectorCheckResult direct = technical::CombinedSelector().check("sh.600519", "2022-01-01", "2023-02-10");
  EXPECT_EQ(rule.pattern_info_str + rule.strategy_type, direct.pattern_info_str + direct.strategy_type);
  EXPECT_EQ(rule.df, direct.df);
  const AIAnalysisRequest req = request();
  const AICheckResult ai = selector.check(req.stock_status, req.df, req.pattern_info, "COMBINED", "2023-02-10", BRIEF);
  EXPECT_EQ(ai.trade_enum, TradeEnum::BUY);
  EXPECT_EQ(ai.summary_response, store->summaries.back().content);
}

}  // namespace
}  // namespace quorvel::strategy::ai
