#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>

#include "contracts/errors.h"
#include "quorvel/agent/solvara/brief_cache.h"
#include "quorvel/agent/solvara/brief_generation.h"
#include "quorvel/agent/solvara/brief_prompt.h"
#include "quorvel/agent/solvara/market_brief.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/run_sync.h"
#include "solvara_fakes.h"
#include "support/test_support.h"
#include "tarnel/local_market_data.h"

namespace quorvel::agent::solvara {
namespace {

using quorvel::run_sync;

class MarketBrief : public ::testing::Test {
 protected:
  void SetUp() override { clear_solvara_cache(); }
  testing::TempDir dir;
  testing::ScopedEnv cache_dir{"QUORVEL_SOLVARA_DIR", (dir / "briefs").string()};
  std::shared_ptr<tarnel::LocalMarketData> data =
      std::make_shared<tarnel::LocalMarketData>(dir / "s.sqlite", get_project_root() / "data");
  Service<tarnel::MarketData>::Guard data_guard{data};
  std::shared_ptr<testing::FakeMarketBlocks> blocks = std::make_shared<testing::FakeMarketBlocks>();
  Service<MarketBlocks>::Guard blocks_guard{blocks};
  std::shared_ptr<testing::FakeSentiment> sentiment = std::make_shared<testing::FakeSentiment>();
  Service<zerith::SentimentThermometer>::Guard sentiment_guard{sentiment};
  std::shared_ptr<testing::FakeReportStore> store = std::make_shared<testing::FakeReportStore>();
  Service<report::ReportStore>::Guard store_guard{store};
  std::shared_ptr<testing::ScriptedAgentLayer> llm = std::make_shared<testing::ScriptedAgentLayer>();
  Service<agent::AgentLayer>::Guard llm_guard{llm};

  std::string brief(std::optional<std::string> market, std::string date, bool force = false, bool mq = false) {
    return run_sync(get_market_ai_brief(std::move(market), std::move(date), force, mq));
  }
};

TEST_F(MarketBrief, MarketTypeChecks) {
  EXPECT_EQ(brief(std::nullopt, "2023-02-10"), "");
  EXPECT_EQ(blocks->calls, 0);
  try {
    brief("", "2023-02-10");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_STREQ(e.what(), "[大盘 AI 简报] market_type 不能为空");
  }
  try {
    brief("cn", "2023-02-10");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_STREQ(e.what(), "[大盘 AI 简报] 不支持的市场类型: cn");
  }
}

TEST_F(MarketBrief, GeneratesOnceThenServesFromMemoryAndDisk) {
  testing::LogCapture log;
  EXPECT_EQ(brief("etf", "2023-02-10_1500"), "**▋ 简报**");
  EXPECT_EQ(llm->runs, 1);
  EXPECT_EQ(llm->closes, 1);
  EXPECT_EQ(llm->last_system, SOLVARA_SYSTEM_MESSAGE);
  ASSERT_EQ(store->briefs.size(), 1u);  // a new brief is always published
  EXPECT_EQ(store->briefs[0].market_type, "A");
  EXPECT_EQ(store->briefs[0].analysis_time, "2023-02-10");
  EXPECT_EQ(store->briefs[0].llm_model, "fake-model");
  EXPECT_TRUE(std::filesystem::exists(dir / "briefs" / "A_2023-02-10_v4.md"));
  EXPECT_TRUE(log.contains("[大盘 AI 简报] 触发 LLM | market=A date=2023-02-10_1500 client=fake model=fake-model"));

  EXPECT_EQ(brief("A", "2023-02-10"), "**▋ 简报**");  // memory, not published
  EXPECT_EQ(store->briefs.size(), 1u);
  EXPECT_TRUE(log.contains("[大盘 AI 简报] 命中内存缓存 | market=A date=2023-02-10"));
  brief("A", "2023-02-10", false, true);  // memory, published with the cached metadata
  ASSERT_EQ(store->briefs.size(), 2u);
  EXPECT_EQ(store->briefs[1].llm_client_type, "fake");

  clear_solvara_cache();
  EXPECT_EQ(brief("A", "2023-02-10"), "**▋ 简报**");
  EXPECT_TRUE(log.contains("[大盘 AI 简报] 命中磁盘缓存 | market=A date=2023-02-10 字数=8"));
  brief("A", "2023-02-10");
  EXPECT_EQ(llm->runs, 1);
}

// The cache degrades without failing the brief: an unusable lock file or brief file is a warning,
// no temporary file stays behind, and a file of Unicode white space alone is no brief.
TEST_F(MarketBrief, CacheTroubleIsAWarningAndNeverLeavesTemporaryFiles) {
  clear_solvara_cache();
  const auto briefs = dir / "briefs";
  std::filesystem::create_directories(briefs / "A_2023-02-10_v4.md.lock");  // a folder: cannot be opened
  std::filesystem::create_directories(briefs / "A_2023-02-10_v4.md" / "x");  // a folder: cannot be replaced
  testing::LogCapture log;
  EXPECT_EQ(brief("A", "2023-02-10"), "**▋ 简报**");
  EXPECT_TRUE(log.contains("[大盘 AI 简报] 无法使用跨进程锁文件，继续生成"));
  EXPECT_TRUE(log.contains("[大盘 AI 简报] 写缓存失败 path="));
  for (const auto& entry : std::filesystem::directory_iterator(briefs))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();

  clear_solvara_cache();
  std::filesystem::remove_all(briefs);
  testing::write_file(briefs / "A_2023-02-10_v4.md", "\u3000\u3000\u00a0\n");
  llm->reply = [](const std::string&) { return "　**▋ 新简报**　"; };
  EXPECT_EQ(brief("A", "2023-02-10"), "**▋ 新简报**");
  EXPECT_EQ(llm->runs, 2);
}

TEST_F(MarketBrief, TwentyConcurrentCallersShareOneGeneration) {
  asio::io_context loop;
  std::vector<std::string> results;
  for (int i = 0; i < 20; ++i)
    asio::co_spawn(loop, get_market_ai_brief("A", "2023-02-10", false, false),
                   [&](std::exception_ptr e, std::string text) {
                     ASSERT_FALSE(e);
                     results.push_back(text);
                   });
  loop.run();
  ASSERT_EQ(results.size(), 20u);
  for (const auto& r : results) EXPECT_EQ(r, "**▋ 简报**");
  EXPECT_EQ(llm->runs, 1);
  EXPECT_EQ(store->briefs.size(), 1u);
  EXPECT_GE(blocks->calls, 1);
}

TEST_F(MarketBrief, ForcedRunDeletesTheFileAndRegenerates) {
  brief("HK", "2023-11-07");
  llm->reply = [](const std::string&) { return "新简报"; };
  testing::LogCapture log;
  EXPECT_EQ(brief("HK", "2023-11-07", true), "新简报");
  EXPECT_EQ(llm->runs, 2);
  EXPECT_TRUE(log.contains("[大盘 AI 简报] 已清理磁盘缓存以触发强制重推: HK_2023-11-07_v4.md"));
  EXPECT_EQ(testing::read_file(dir / "briefs" / "HK_2023-11-07_v4.md"), "新简报");
  EXPECT_EQ(brief("HK", "2023-11-07"), "新简报");
}

TEST_F(MarketBrief, HardFailuresCarryTheirMessages) {
  blocks->env = "";
  blocks->env_meta = {{"skip_reason", "no_index_bar_near_date"}};
  try {
    brief("A", "2023-02-10");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_STREQ(e.what(),
                 "[大盘 AI 简报] 大盘实时快照数据缺失 | market=A date=2023-02-10 reason=no_index_bar_near_date");
  }
  blocks->env = "x";
  blocks->hist = "";
  blocks->hist_meta = {{"skip_reason", "空"}, {"days", 60}, {"ok", false}};
  try {
    brief("US", "2022-12-30");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_STREQ(e.what(),
                 "[大盘 AI 简报] 大盘历史趋势数据缺失 | market=US date=2022-12-30 meta={'skip_reason': '空', 'days': 60, "
                 "'ok': False}");
  }
  blocks->hist = "y";
  llm->fail = true;
  try {
    brief("US", "2022-12-30");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_STREQ(e.what(), "[大盘 AI 简报] LLM 调用失败 | market=US date=2022-12-30 err=quota exceeded");
  }
  EXPECT_EQ(llm->closes, 1);  // closed although the run failed
  llm->fail = false;
  llm->reply = [](const std::string&) { return "  \n"; };
  EXPECT_THROW(brief("US", "2022-12-30"), RuntimeError);
  llm->reply = [](const std::string&) { return "<think>推理</think>\n"; };
  try {
    brief("US", "2022-12-30");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_STREQ(e.what(), "[大盘 AI 简报] LLM 返回内容仅含 <think>，剥离后为空 | market=US");
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "briefs" / "US_2022-12-30_v4.md"));
}

TEST_F(MarketBrief, PublicationFailureStillReturnsTheBrief) {
  store->fail = true;
  testing::LogCapture log;
  EXPECT_EQ(brief("A", "2023-02-10"), "**▋ 简报**");
  EXPECT_TRUE(log.contains("[大盘 AI 简报] 推送 MQ 失败: store down"));
}

TEST_F(MarketBrief, UserMessageCarriesTheMarketLabelAndPlaceholders) {
  blocks->ind = "";
  brief("HK", "2023-11-07");
  const std::string& task = llm->last_task;
  EXPECT_NE(task.find("- **市场范围**：港股大盘（恒生指数、恒生科技指数）"), std::string::npos);
  EXPECT_NE(task.find("（情绪温度计数据暂不可用）"), std::string::npos);
  EXPECT_NE(task.find("### 3. 大盘指数技术指标（近 60 日，基于全量历史计算）\n（暂无指标数据）"), std::string::npos);
  EXPECT_NE(task.find("| **恒生指数** |"), std::string::npos);
  EXPECT_NE(task.find("- **分析日期**：2023-11-07\n"), std::string::npos);
  EXPECT_NE(task.find("### 2. 大盘指数近 60 日 OHLCV\n" + blocks->hist + "\n"), std::string::npos);
  EXPECT_EQ(task.find('{'), std::string::npos);
  const auto a = run_sync(build_brief_user_message("A", "2023-02-10", "{env}", "h", "i"));
  EXPECT_NE(a.find("### 4. A 股情绪温度计（sentiment_thermometer，上游权威计算，仅 A 股/ETF 市场提供）\n### 4. A 股情绪温度计（"),
            std::string::npos);
  EXPECT_NE(a.find("### 1. 大盘指数实时快照\n{env}\n"), std::string::npos);  // values are inserted literally
}

// A placeholder is {name} of letters, digits and underscores with a value; anything else stays as
// written, and an inserted value is never read again.
TEST(BriefPrompt, FillTemplateReplacesOnlyNamesWithAValue) {
  const std::map<std::string, std::string> values{{"bias", "偏空"}, {"env_2", "{bias}"}, {"empty", ""}};
  const std::pair<std::string, std::string> rows[] = {
      {"{bias}/{bias}", "偏空/偏空"}, {"{env_2}", "{bias}"},  {"a{empty}b", "ab"},   {"{{bias}}", "{偏空}"},
      {"{strength}", "{strength}"},   {"{}{bias }", "{}{bias }"}, {"{bi-as}", "{bi-as}"}, {"尾{bias", "尾{bias"},
  };
  for (const auto& [tmpl, want] : rows) EXPECT_EQ(fill_template(tmpl, values), want) << tmpl;
}

TEST(BriefReply, ReasoningSpansAreRemoved) {
  EXPECT_EQ(strip_reasoning("<think>a\nb</think>\n  简报  "), "简报");
  EXPECT_EQ(strip_reasoning("x<think>1</think>y<think>2</think>z"), "xyz");
  EXPECT_EQ(strip_reasoning("  <think>未闭合 简报 "), "<think>未闭合 简报");
}

}  // namespace
}  // namespace quorvel::agent::solvara
