// The tessaly command end to end: real bundled data, a real store, a fake LLM server on 127.0.0.1.
#include <cstdlib>
#include <fstream>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/fake_llm_server.h"
#include "support/postgres_server.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

struct ProcessResult {
  int status = -1;
  std::string out, err;
};

std::string chat_reply(const std::string& content) {
  return nlohmann::json{{"id", "x"},
                        {"model", "fake-model"},
                        {"choices", {{{"index", 0}, {"message", {{"role", "assistant"}, {"content", content}}}}}},
                        {"usage", {{"prompt_tokens", 10}, {"completion_tokens", 5}}}}
      .dump();
}

class Tessaly : public ::testing::Test {
 protected:
  TempDir dir;
  testing::FakeLlmServer llm;
  ScopedEnv center{"TARNEL_CENTER", dir.path().string()};
  ScopedEnv briefs{"QUORVEL_SOLVARA_DIR", (dir / "briefs").string()};
  ScopedEnv reports{"REPORT_DIR", (dir / "report").string()};
  ScopedEnv mq{"QUORVEL_MQ_URL", std::nullopt};
  ScopedEnv type{"LLM_CLIENT_TYPE", "openai_compatible"};
  ScopedEnv key{"OPENAI_COMPATIBLE_API_KEY", "sk-test-secret"};
  ScopedEnv url{"OPENAI_COMPATIBLE_BASE_URL", llm.base_url()};
  ScopedEnv model{"OPENAI_COMPATIBLE_MODEL", "fake-model"};

  // Runs `count` tessaly processes at once with the same arguments; `env` ("NAME=value$i ...") sets
  // variables per process ($i is its number).
  std::vector<ProcessResult> run(const std::string& args, int count = 1, const std::string& env = "") {
    std::string script = "cd '" + dir.path().string() + "' && for i in $(seq 1 " + std::to_string(count) + "); do (";
    script += "env " + env + " '" + TESSALY_BIN + "' " + args + " > out$i 2> err$i; echo $? > rc$i) & done; wait";
    testing::write_file(dir / "run.sh", script + "\n");
    EXPECT_EQ(std::system(("bash '" + (dir / "run.sh").string() + "'").c_str()), 0);
    std::vector<ProcessResult> runs;
    for (int i = 1; i <= count; ++i) {
      ProcessResult r;
      r.status = std::stoi(testing::read_file(dir / ("rc" + std::to_string(i))));
      r.out = testing::read_file(dir / ("out" + std::to_string(i)));
      r.err = testing::read_file(dir / ("err" + std::to_string(i)));
      runs.push_back(r);
    }
    return runs;
  }
};

TEST_F(Tessaly, FourProcessesAtOnceMakeExactlyOneLlmCall) {
  llm.enqueue({200, chat_reply("<think>先想</think>**▋ A 股大盘市场研判 · 偏空 / 中**\n正文"), {}});
  const auto runs = run("-m A -t 2023-02-10", 4);
  for (const auto& r : runs) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("**▋ A 股大盘市场研判 · 偏空 / 中**\n正文\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.rfind("\n" + std::string("━━━━━━━━━━━━━━━━━━━━━━━━━━━━━━") + " [ 大盘 AI 研判 ] ", 0), 0u);
    EXPECT_EQ(r.err.find("sk-test-secret"), std::string::npos);
  }
  EXPECT_EQ(llm.request_count(), 1u);
  const std::string task = llm.requests()[0].body;
  EXPECT_NE(task.find("A 股情绪温度计（sentiment_thermometer 权威计算）"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "briefs" / "A_2023-02-10_v4.md"));
  EXPECT_TRUE(std::filesystem::exists(dir / "briefs" / "A_2023-02-10_v4.meta.json"));
}

TEST_F(Tessaly, MachinesSharingOneStoreMakeOneBriefBetweenThem) {
  testing::PostgresServer server;
  ScopedEnv shared("REPORT_DB_URL", server.url());
  llm.enqueue({200, chat_reply("共享的简报"), {}});
  // Three machines: each its own cache folder and report directory, one store between them.
  const auto runs = run("-m A -t 2023-02-10", 3,
                        fmt::format("QUORVEL_SOLVARA_DIR='{0}/briefs'$i REPORT_DIR='{0}/report'$i", dir.path().string()));
  int from_store = 0;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(runs[i].status, 0) << runs[i].err;
    EXPECT_NE(runs[i].out.find("共享的简报"), std::string::npos);
    from_store += runs[i].err.find("命中共享报告库中的简报") != std::string::npos;
    EXPECT_EQ(testing::read_file(dir / fmt::format("briefs{}", i + 1) / "A_2023-02-10_v4.md"), "共享的简报");
  }
  EXPECT_EQ(llm.request_count(), 1u);
  EXPECT_EQ(from_store, 2);
  EXPECT_EQ(server.command("SELECT COUNT(*) FROM reports WHERE kind = 'solvara'"), std::vector<std::string>{"1"});
}

TEST_F(Tessaly, EtfSharesTheAShareBriefAndForceRegenerates) {
  llm.enqueue({200, chat_reply("第一版"), {}});
  llm.enqueue({200, chat_reply("第二版"), {}});
  auto r = run("-m ETF -t 2023-02-10");
  ASSERT_EQ(r[0].status, 0) << r[0].err;
  EXPECT_NE(r[0].err.find("A_2023-02-10_v4.md"), std::string::npos);
  r = run("-m A -t 2023-02-10");  // served from the disk cache
  EXPECT_NE(r[0].out.find("第一版"), std::string::npos);
  EXPECT_NE(r[0].err.find("命中磁盘缓存"), std::string::npos);
  EXPECT_EQ(llm.request_count(), 1u);
  r = run("-m A -t 2023-02-10 --force");
  EXPECT_NE(r[0].out.find("第二版"), std::string::npos);
  EXPECT_NE(r[0].err.find("已清理磁盘缓存以触发强制重推: A_2023-02-10_v4.md"), std::string::npos);
  EXPECT_EQ(llm.request_count(), 2u);
  EXPECT_EQ(testing::read_file(dir / "briefs" / "A_2023-02-10_v4.md"), "第二版");
}

TEST_F(Tessaly, ARelativeCacheDirectoryIsTakenFromTheWorkingDirectoryAndShownResolved) {
  std::filesystem::create_directories(dir / "real-briefs");
  std::filesystem::create_directory_symlink("real-briefs", dir / "briefs-link");
  ScopedEnv relative("QUORVEL_SOLVARA_DIR", "briefs-link");
  llm.enqueue({200, chat_reply("相对目录的简报"), {}});
  const auto r = run("-m A -t 2023-02-10");  // run in `dir`
  ASSERT_EQ(r[0].status, 0) << r[0].err;
  const auto real = std::filesystem::canonical(dir.path()) / "real-briefs" / "A_2023-02-10_v4.md";
  EXPECT_EQ(testing::read_file(real), "相对目录的简报");
  EXPECT_NE(r[0].err.find("缓存文件: " + real.string() + "\n"), std::string::npos) << r[0].err;
}

TEST_F(Tessaly, HongKongAndUsBriefsCarryNoSentiment) {
  llm.enqueue({200, chat_reply("港股简报"), {}});
  llm.enqueue({200, chat_reply("美股简报"), {}});
  EXPECT_EQ(run("-m HK -t 2023-11-07")[0].status, 0);
  EXPECT_EQ(run("-m US -t 2022-12-30")[0].status, 0);
  ASSERT_EQ(llm.request_count(), 2u);
  for (const auto& req : llm.requests()) {
    EXPECT_NE(req.body.find("（情绪温度计数据暂不可用）"), std::string::npos);
    EXPECT_EQ(req.body.find("sentiment_thermometer 权威计算"), std::string::npos);
  }
}

TEST_F(Tessaly, HardFailuresAndDateChecks) {
  llm.enqueue({401, R"({"error":{"message":"invalid key"}})", {}});
  auto r = run("-m US -t 2022-12-30");
  EXPECT_EQ(r[0].status, 1);
  EXPECT_NE(r[0].err.find("[大盘 AI 简报] LLM 调用失败 | market=US date=2022-12-30"), std::string::npos) << r[0].err;
  EXPECT_EQ(r[0].out, "");
  r = run("-m a -t 2023-02-10");
  EXPECT_EQ(r[0].status, 2);
  r = run("-m A -t 2023-13-01");
  EXPECT_EQ(r[0].status, 2);
  EXPECT_NE(r[0].err.find("日期格式错误: 2023-13-01，应为 YYYY-MM-DD"), std::string::npos);
  r = run("-m A -t 2999-01-01");
  EXPECT_EQ(r[0].status, 2);
  EXPECT_NE(r[0].err.find("输入日期 2999-01-01 是未来日期，退出。"), std::string::npos);
  r = run("-m A -t 2023-02-12");  // a Sunday moves back to Friday
  EXPECT_NE(r[0].err.find("日期已从 2023-02-12 调整为 2023-02-10（未收盘或非交易日等）"), std::string::npos);
  r = run("-m HK -t 2023-04-10");  // Easter Monday: Hong Kong is closed, Shanghai is not
  EXPECT_NE(r[0].err.find("日期已从 2023-04-10 调整为 2023-04-06（未收盘或非交易日等）"), std::string::npos) << r[0].err;
}

TEST_F(Tessaly, ABlankReplyEndsTheRunAfterOnePaidCall) {
  llm.enqueue({200, chat_reply(" \n "), {}});
  llm.enqueue({200, chat_reply("第二次请求的简报"), {}});
  const auto r = run("-m A -t 2023-02-10");
  EXPECT_EQ(r[0].status, 1);
  EXPECT_NE(r[0].err.find("[大盘 AI 简报] LLM 返回空内容 | market=A date=2023-02-10"), std::string::npos) << r[0].err;
  EXPECT_EQ(r[0].out, "");
  EXPECT_EQ(llm.request_count(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir / "briefs" / "A_2023-02-10_v4.md"));
}

TEST_F(Tessaly, DamagedStoresAndOutOfRangeDatesEndInOneClearLine) {
  testing::write_file(dir / "tarnel.sqlite", std::string(4096, 'x'));
  auto r = run("-m A -t 2023-02-10");
  EXPECT_EQ(r[0].status, 1);
  EXPECT_EQ(r[0].err.find("terminate called"), std::string::npos) << r[0].err;
  EXPECT_NE(r[0].err.find((dir / "tarnel.sqlite").string()), std::string::npos) << r[0].err;
  EXPECT_NE(r[0].err.find("请移走或删除它后重新运行"), std::string::npos) << r[0].err;
  std::filesystem::remove(dir / "tarnel.sqlite");
  r = run("-m A -t 0000-01-01");
  EXPECT_EQ(r[0].status, 2) << r[0].err;
  EXPECT_EQ(r[0].err.find("multiple exceptions"), std::string::npos) << r[0].err;
  EXPECT_NE(r[0].err.find("日期格式错误: 0000-01-01，应为 YYYY-MM-DD"), std::string::npos) << r[0].err;
}

TEST_F(Tessaly, EightForcedRunsAtOnceAllPrintABrief) {
  for (int i = 0; i < 8; ++i) llm.enqueue({200, chat_reply("强制重推的简报"), {}});
  for (const auto& r : run("-m A -t 2023-02-10 --force", 8)) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("强制重推的简报"), std::string::npos) << r.err;
  }
}

TEST_F(Tessaly, ACachedBriefNeedsNoApiKey) {
  llm.enqueue({200, chat_reply("缓存的简报"), {}});
  ASSERT_EQ(run("-m A -t 2023-02-10")[0].status, 0);
  ScopedEnv no_key("OPENAI_COMPATIBLE_API_KEY", std::nullopt);
  const auto r = run("-m A -t 2023-02-10");
  EXPECT_EQ(r[0].status, 0) << r[0].err;
  EXPECT_NE(r[0].out.find("缓存的简报"), std::string::npos);
  EXPECT_EQ(llm.request_count(), 1u);
}

TEST_F(Tessaly, OfflineClientRunsWithoutAnyNetwork) {
  ScopedEnv offline("LLM_CLIENT_TYPE", "offline");
  const auto r = run("-m A -t 2023-02-10");
  ASSERT_EQ(r[0].status, 0) << r[0].err;
  EXPECT_NE(r[0].out.find("**▋ A 股大盘市场研判 · "), std::string::npos);
  EXPECT_NE(r[0].out.find("**▋ 情绪温度计**"), std::string::npos);
  EXPECT_EQ(llm.request_count(), 0u);
  const auto meta = nlohmann::json::parse(testing::read_file(dir / "briefs" / "A_2023-02-10_v4.meta.json"));
  EXPECT_EQ(meta["llm_model"], "offline-rules");
}

}  // namespace
}  // namespace quorvel
