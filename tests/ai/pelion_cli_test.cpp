// The pelion command end to end: bundled real bars, the real store and services, a fake LLM server
// on 127.0.0.1 answering the market brief first and then the stock analysis.
#include <regex>

#include <gtest/gtest.h>

#include "support/decision_replies.h"
#include "support/fake_llm_server.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using testing::completion_body;
using testing::ScriptedReply;
namespace fs = std::filesystem;

const ScriptedReply BRIEF{200, completion_body("**▋ A 股大盘市场研判 · [偏空 / 中]**\n正文"), {}};

ScriptedReply answer(const std::string& content, const std::string& reasoning = "") {
  return {200, completion_body(content, reasoning), {}};
}

// One isolated run environment: data, reports, brief cache and LLM endpoint of its own.
struct Sandbox {
  testing::TempDir dir;
  testing::FakeLlmServer llm;
  testing::ScopedEnv center{"TARNEL_CENTER", dir.path().string()};
  testing::ScopedEnv briefs{"QUORVEL_SOLVARA_DIR", (dir / "briefs").string()};
  testing::ScopedEnv reports{"REPORT_DIR", (dir / "report").string()};
  testing::ScopedEnv mq{"QUORVEL_MQ_URL", std::nullopt};
  testing::ScopedEnv type{"LLM_CLIENT_TYPE", "openai_compatible"};
  testing::ScopedEnv key{"OPENAI_COMPATIBLE_API_KEY", "sk-test-secret"};
  testing::ScopedEnv url{"OPENAI_COMPATIBLE_BASE_URL", llm.base_url()};
  testing::ScopedEnv model{"OPENAI_COMPATIBLE_MODEL", "fake-model"};
  testing::ScopedEnv retries{"LLM_MAX_RETRIES", "0"};
  testing::ScopedEnv timeout{"LLM_TIMEOUT", "2"};

  testing::ProgramRun run(const std::string& args) {
    return testing::run_program("cd '" + dir.path().string() + "' && '" PELION_BIN "'", args, dir.path());
  }
  fs::path report_file(const std::string& code, const std::string& date, const char* kind) const {
    return dir / "report" / date / (code + "_" + kind + "_openai_compatible.md");
  }
  std::vector<fs::path> audit_files() const {
    std::vector<fs::path> out;
    if (fs::exists(dir / "report" / "audit"))
      for (const auto& e : fs::directory_iterator(dir / "report" / "audit")) out.push_back(e.path());
    return out;
  }
};

TEST(Pelion, FaultyRepliesEndInAStoredWaitOrAWatchResult) {
  const std::string fallback = "未能成功提取到决策，建议继续观望。";
  const std::string watch = testing::fenced(testing::buy_decision({{"direction", "中性"},
                                                                   {"action", "观望等待"},
                                                                   {"holder_action", "清仓离场"},
                                                                   {"entry_price_low", 0},
                                                                   {"entry_price_high", 0},
                                                                   {"stop_loss", 0},
                                                                   {"target_1", 0},
                                                                   {"target_2", 0},
                                                                   {"rrr", 0},
                                                                   {"rrr_max", 0},
                                                                   {"position_pct", "0%"}}));
  const struct {
    const char* name;
    std::vector<ScriptedReply> replies;  // after the brief
    const char* retries;
    std::string expected;  // in the log
    bool stored;
    std::size_t audits;
  } rows[] = {
      {"no JSON", {answer("只有分析，没有决策块。")}, "0", fallback, true, 1},
      {"broken price chain", {answer(testing::decision_reply({{"stop_loss", 1850}}))}, "0", fallback, true, 1},
      {"only reasoning text", {answer("", "先看均线……")}, "0", "分析出错: ", false, 0},
      {"two JSON blocks: the first counts",
       {answer("正文\n" + watch + "\n修订：\n" + testing::fenced(testing::buy_decision()))},
       "0",
       "- **趋势判断**：震荡（多空方向：中性）",
       true,
       1},
      {"truncated JSON",
       {answer("正文\n```json\n{\"direction\": \"看多\", \"action\": \"建议")},
       "0",
       fallback,
       true,
       1},
      {"HTTP 429 then 500, then an answer",
       {{429, R"({"error":{"message":"rate limited"}})", {{"Retry-After", "0"}}},
        {500, R"({"error":{"message":"oops"}})", {}},
        answer(testing::decision_reply())},
       "2",
       "> **LLM**: fake-model",
       true,
       1},
      {"time-out", {{200, "", {}, true}}, "0", "分析出错: ", false, 0},
      // Stored as no decision; every paid reply has its audit file, named in the log when unusable.
      {"buy at negative prices",
       {answer(testing::decision_reply({{"entry_price_low", -1}, {"entry_price_high", -0.5}, {"stop_loss", -5},
                                        {"target_1", -0.1}, {"target_2", 0.05}}))},
       "0",
       fallback,
       true,
       1},
      {"target at a thousand times the close", {answer(testing::decision_reply({{"target_2", 1e300}}))}, "0", fallback,
       true, 1},
      {"decision that fails validation",
       {answer(testing::decision_reply({{"analysis_time", nullptr}}))},
       "0",
       "分析出错: ",
       false,
       1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Sandbox box;
    testing::ScopedEnv retries("LLM_MAX_RETRIES", row.retries);
    testing::ScopedEnv timeout("LLM_TIMEOUT", "1");
    box.llm.enqueue(BRIEF);
    for (const auto& reply : row.replies) box.llm.enqueue(reply);
    const auto r = box.run("-s sh.600519 -t 2023-02-10");
    EXPECT_EQ(r.status, row.stored ? 0 : 1) << r.err;  // the error trap's WATCH is a failure
    EXPECT_NE(r.err.find(row.expected), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\n执行时间: "), std::string::npos);
    EXPECT_EQ(box.llm.request_count(), 1 + row.replies.size());
    EXPECT_EQ(fs::exists(box.report_file("sh.600519", "2023-02-10", "analysis")), row.stored);
    EXPECT_EQ(fs::exists(box.report_file("sh.600519", "2023-02-10", "summary")), row.stored);
    const auto audits = box.audit_files();
    ASSERT_EQ(audits.size(), row.audits);
    if (!audits.empty() && (!row.stored || row.expected == fallback)) {
      EXPECT_NE(r.err.find(audits[0].string()), std::string::npos);
    }
    EXPECT_EQ(r.err.find("sk-test-secret"), std::string::npos);
  }
}

TEST(Pelion, InputsThatEndTheRunEarly) {
  Sandbox box;
  const std::tuple<std::string, int, std::string> rows[] = {
      // arguments, exit status, in standard error
      {"-s sh.600519 -t 2099-01-01", 2, "输入日期 2099-01-01 是未来日期，系统将直接退出。"},
      {"-s sh.600519 -t 2023-13-01", 2, "日期格式错误: 2023-13-01，应为 YYYY-MM-DD"},
      {"-s sh.600519 -t 20230210", 2, "日期格式错误: 20230210，应为 YYYY-MM-DD"},
      {"-s sz.000001", 1, "获取股票数据失败: sz.000001"},  // today is accepted; no bundled bars
      {"-s sh.999999 -t 2023-02-10", 1, "获取股票数据失败: sh.999999"},
      {"-s 600519 -t 2023-02-10", 2, "600519 不是行情库中的基金代码；若是 A 股股票，请写成 sh.600519"},
      {"-s sh.600000 -t 2014-12-31", 1, "获取股票数据失败: sh.600000"},  // before the first bar
      {"-s xx.123 -t 2023-02-10", 1, "\npelion: 无效的证券代码: 'xx.123'"},
      {"-s sh.600519 -t 2023-02-10", 1, "\npelion: [大盘 AI 简报] "},  // the LLM server refuses the brief
      {"-t 2023-02-10", 2, "--stock_code is required"},
      {"-s sh.600519 --bogus", 2, "The following argument was not expected: --bogus"},
  };
  for (const auto& [args, status, expected] : rows) {
    SCOPED_TRACE(args);
    const auto r = box.run(args);
    EXPECT_EQ(r.status, status);
    EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("执行时间"), std::string::npos);
  }
  EXPECT_EQ(box.llm.request_count(), 1u);
  const auto help = box.run("-h");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("股票分析命令行工具"), std::string::npos);
}

TEST(Pelion, StoredReportIsSkippedUnlessForced) {
  Sandbox box;
  box.llm.enqueue(BRIEF);
  box.llm.enqueue(answer(testing::decision_reply()));
  auto r = box.run("-s sh.600519 -t 2023-02-12");  // a Sunday
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("日期已从 2023-02-12 调整为 2023-02-10 (由于市场未收盘或非交易日)"), std::string::npos);
  EXPECT_NE(r.err.find("开始 AI 股票分析: stock=sh.600519, analysis_time=2023-02-10, force=False"), std::string::npos);
  EXPECT_TRUE(std::regex_search(r.err, std::regex("\n执行时间: [0-9]+\\.[0-9]{2} 秒\n")));
  std::size_t at = 0;  // the two texts between their banner lines, in this order
  for (const char* banner : {"\n===== 股票分析报告 =====\n", "\n===== 分析报告结束 =====\n",
                             "\n===== 投资建议总结 =====\n", "\n===== 总结结束 =====\n"}) {
    at = r.err.find(banner, at);
    ASSERT_NE(at, std::string::npos) << banner;
  }

  testing::ScopedEnv mixed("LLM_CLIENT_TYPE", "OpenAI_Compatible");  // looked up in lower case
  r = box.run("-s sh.600519 -t 2023-02-10");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("股票 sh.600519 在 2023-02-10 的分析报告 (openai_compatible) 已存在，跳过执行。 "
                       "(使用 --force 强制重新分析)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("执行时间"), std::string::npos);
  EXPECT_EQ(box.llm.request_count(), 2u);
  // The sample plan's reward/risk from its entry high is below the minimum: the rerun says so too.
  EXPECT_NE(r.err.find("[规则核验] sh.600519 2023-02-10 已存储的交易计划需复核"), std::string::npos) << r.err;

  box.llm.enqueue(answer(testing::decision_reply()));
  r = box.run("-s sh.600519 -t 2023-02-10 --force");  // the brief now comes from the disk cache
  EXPECT_NE(r.err.find("force=True"), std::string::npos);
  EXPECT_NE(r.err.find("执行时间"), std::string::npos);
  EXPECT_EQ(box.llm.request_count(), 3u);
}

TEST(Pelion, EachMarketGetsItsAgentAndItsDates) {
  const std::pair<const char*, std::vector<std::string>> rows[] = {
      // arguments, log lines
      {"-s 510050 -t 2023-02-10", {"[Agent选择] stock=510050 market_type=ETF -> agent_type=ETF"}},
      // The stock's last bar is 11-06: the analysis, its skip check and its brief are of that day.
      {"-s hk.00700 -t 2023-11-07",
       {"[Agent选择] stock=hk.00700 market_type=HK -> agent_type=HK",
        "[日期自动校准] 输入日期 2023-11-07 无交易数据，校准为最后交易日: 2023-11-06",
        "[数据状态] 标的数据已对齐目标日期: 2023-11-06, 涨幅: "}},
      // Hong Kong codes on the Hong Kong calendar: Golden Week (Hong Kong open), Easter Monday (closed).
      {"-s HK.700 -t 2023-10-05", {"stock=hk.00700, analysis_time=2023-10-05", "已对齐目标日期: 2023-10-05"}},
      {"-s hk.00700 -t 2023-04-10", {"日期已从 2023-04-10 调整为 2023-04-06 (由于市场未收盘或非交易日)"}},
      // Chinese New Year on the Shanghai calendar.
      {"-s SH.600519 -t 2023-01-24", {"日期已从 2023-01-24 调整为 2023-01-20", "stock=sh.600519,"}},
      // Martin Luther King Day on the New York calendar; the bars end 2022-12-30: stale, and said so.
      {"-s us.AAPL -t 2023-01-16",
       {"日期已从 2023-01-16 调整为 2023-01-13",
        "[数据状态] us.AAPL: 数据截至 2022-12-30，比请求的 2023-01-13 早 9 个交易日 (停牌或数据未更新)"}},
      {"-s us.AAPL -t 2022-12-31",
       {"日期已从 2022-12-31 调整为 2022-12-30 (由于市场未收盘或非交易日)",
        "[Agent选择] stock=us.AAPL market_type=US -> agent_type=US",
        "[数据状态] 标的数据已对齐目标日期: 2022-12-30, 涨幅: "}},
  };
  for (const auto& [args, expected] : rows) {
    SCOPED_TRACE(args);
    Sandbox box;
    box.llm.enqueue(BRIEF);
    box.llm.enqueue(answer("正文，没有决策。"));
    const auto r = box.run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto& line : expected) EXPECT_NE(r.err.find(line), std::string::npos) << line;
    EXPECT_EQ(box.llm.request_count(), 2u);
  }
}

// A rerun pays nothing, whatever the requested day or the spelling: hk.00700's last bar is 11-06, so
// a request for 11-07 is the analysis of 11-06, stored and skipped under that day and code.
TEST(Pelion, ARerunOfTheSameInstrumentDayIsSkippedWhateverTheSpellingOrDay) {
  Sandbox box;
  box.llm.enqueue(BRIEF);
  box.llm.enqueue(answer("正文，没有决策。"));
  EXPECT_EQ(box.run("-s hk.00700 -t 2023-11-07").status, 0);
  for (const char* args : {"-s HK.700 -t 2023-11-07", "-s 00700.HK -t 2023-11-06", "-s hk.00700 -t 2023-11-07"}) {
    SCOPED_TRACE(args);
    const auto r = box.run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("股票 hk.00700 在 2023-11-06 的分析报告 (openai_compatible) 已存在，跳过执行。"), std::string::npos)
        << r.err;
  }
  EXPECT_EQ(box.llm.request_count(), 2u);
  EXPECT_TRUE(fs::exists(box.report_file("hk.00700", "2023-11-06", "analysis")));
}

// The bundled raw series of 159928 splits 1:4 on 2021-06-25: the model reads the adjusted bars and is
// told which day was adjusted, by which ratio, and that dividends are not.
TEST(Pelion, ASplitInARawFundSeriesIsAdjustedAndToldToTheModel) {
  Sandbox box;
  box.llm.enqueue(BRIEF);
  box.llm.enqueue(answer("正文，没有决策。"));
  EXPECT_EQ(box.run("-s 159928 -t 2023-02-10").status, 0);
  const auto requests = box.llm.requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string user = nlohmann::json::parse(requests[1].body)["messages"].back()["content"];
  EXPECT_NE(user.find("\"corporate_actions\""), std::string::npos);
  EXPECT_NE(user.find("\"date\": \"2021-06-25\""), std::string::npos) << user.substr(0, 2000);
  EXPECT_NE(user.find("现金分红未调整"), std::string::npos);
}

// A week in progress is marked in the weekly data the model reads; a week that ended is not.
TEST(Pelion, TheWeekInProgressIsMarkedInTheWeeklyData) {
  const std::pair<const char*, const char*> rows[] = {
      {"-s hk.00700 -t 2023-11-06", R"("partial_week":{"last_bar":"2023-11-06","sessions":1})"},  // a Monday
      {"-s sh.600519 -t 2023-02-10", nullptr},                                                     // a Friday
  };
  for (const auto& [args, marker] : rows) {
    SCOPED_TRACE(args);
    Sandbox box;
    box.llm.enqueue(BRIEF);
    box.llm.enqueue(answer("正文，没有决策。"));
    EXPECT_EQ(box.run(args).status, 0);
    const auto requests = box.llm.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string user = nlohmann::json::parse(requests[1].body)["messages"].back()["content"];
    if (marker) {
      EXPECT_NE(user.find(marker), std::string::npos);
    } else {
      EXPECT_EQ(user.find("partial_week"), std::string::npos);
    }
  }
}

// Look-ahead guard: bars after the analysis day (of the stock and of the indices) are replaced by
// absurd values; the prompts the model gets, the brief and the stored decision stay byte for byte.
TEST(Pelion, NothingAfterTheAnalysisDayReachesTheModel) {
  Sandbox box;
  const auto analyse = [&] {
    box.llm.enqueue(answer("**▋ 大盘市场研判 · 偏多 / 中**\n正文"));
    box.llm.enqueue(answer(testing::decision_reply()));
    fs::remove_all(box.dir / "briefs");
    const auto r = box.run("-s sh.600519 -t 2023-02-10 --force");
    EXPECT_EQ(r.status, 0) << r.err;
    return testing::read_file(box.report_file("sh.600519", "2023-02-10", "summary"));
  };
  const std::string first_summary = analyse();
  std::string future = "date,open,high,low,close,volume,amount\n";
  for (const char* day : {"2023-02-13", "2023-02-14", "2023-02-15", "2023-02-16", "2023-02-17"})
    future += std::string(day) + ",99999,99999,0.01,50000,1,1\n";
  testing::write_file(box.dir / "future.csv", future);
  for (const char* code : {"sh.600519", "sh.000001", "sz.399006", "sh.000688", "sh.000300"}) {
    const auto imported = testing::run_program(TARNEL_IMPORT_BIN, "--code " + std::string(code) + " '" +
                                                                      (box.dir / "future.csv").string() + "'",
                                               box.dir.path());
    ASSERT_EQ(imported.status, 0) << imported.err;
  }
  const std::string second_summary = analyse();
  const auto requests = box.llm.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].body, requests[2].body);  // the brief's prompt
  EXPECT_EQ(requests[1].body, requests[3].body);  // the stock's system and user messages
  // The summaries differ only in their saving time.
  const auto body = [](const std::string& s) { return s.substr(s.find("\n---\n")); };
  EXPECT_EQ(body(first_summary), body(second_summary));
}

}  // namespace
}  // namespace quorvel
