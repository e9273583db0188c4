// quorvel-daily end to end: a day of three markets on the bundled bars with the offline client, the
// rerun that pays nothing, days on which one chosen market or all of them do not trade (a US
// holiday, Chinese New Year), and a failing step that is named while the later steps still run.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "support/fake_kline_server.h"
#include "support/fake_smtp_server.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using testing::ScopedEnv;
namespace fs = std::filesystem;

using testing::llm_calls;

struct Sandbox : testing::CommandSandbox {
  ScopedEnv online{"TARNEL_ONLINE", "0"};
  ScopedEnv client{"LLM_CLIENT_TYPE", "offline"};

  fs::path watchlist(const std::string& codes) {
    const fs::path file = dir / "watch.txt";
    std::ofstream(file) << codes;
    return file;
  }
  testing::ProgramRun run(const std::string& args) const { return run_in(QUORVEL_DAILY_BIN, args); }
};

TEST(DailyCli, RunsTheDayOfEachOpenMarketAndResumesWithoutPayingTwice) {
  Sandbox box;
  const std::string args = "-m A -m HK -m ETF --top 2 --watchlist '" +
                           box.watchlist("sh.600519\nhk.00700\nus.AAPL\n").string() + "' -t 2023-02-10";
  const auto first = box.run(args);
  ASSERT_EQ(first.status, 0) << first.err;
  const fs::path day = box.dir / "report" / "daily" / "2023-02-10";
  ASSERT_TRUE(fs::exists(day / "digest.html"));
  const std::string digest = testing::read_file(day / "digest.md");
  EXPECT_EQ(digest, first.out);
  for (const char* part : {"## 大盘", "**A 市场 2023-02-10**", "**HK 市场 2023-02-10**", "## 买入计划",
                           "## 机会雷达", "## 当日有结果的计划", "更新行情 A：跳过", "筛选 HK：完成", "计划评分：完成"})
    EXPECT_NE(digest.find(part), std::string::npos) << part;
  // The US code of the watchlist waits for a day its market trades; the others are analysed.
  EXPECT_NE(digest.find("自选股 1 只不在今日开市的市场"), std::string::npos);
  const std::string pool = testing::read_file(day / "pool.txt");
  EXPECT_NE(pool.find("hk.00700"), std::string::npos);
  EXPECT_EQ(pool.find("us.AAPL"), std::string::npos);
  EXPECT_GT(llm_calls(digest), 0);

  const auto again = box.run(args);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(llm_calls(again.out), 0) << again.out;
  EXPECT_NE(again.out.find("新分析 0"), std::string::npos);
}

// The digest goes to a JSON endpoint and a mail server on 127.0.0.1 once, however often the day is run.
TEST(DailyCli, TheDigestReachesEachChannelOncePerDayAcrossReruns) {
  Sandbox box;
  testing::FakeKlineServer webhook([](const testing::KlineRequest&) {
    return testing::KlineReply{200, R"({"ok":true})", {}, {}, false};
  });
  testing::FakeSmtpServer smtp;
  const fs::path channels = box.dir / "delivery.json";
  std::ofstream(channels) << R"({"channels": [{"name": "desk", "type": "json", "url": ")" << webhook.base_url()
                          << R"(/digest"}, {"name": "mail", "type": "email", "url": ")" << smtp.url()
                          << R"(", "tls": "none", "from": "q@example.com", "to": ["trader@example.com"]}]})";
  ScopedEnv file{"QUORVEL_DELIVERY_FILE", channels.string()};
  for (int run = 0; run < 2; ++run) {
    const auto day = box.run("-m A --top 1 -t 2023-02-10");
    ASSERT_EQ(day.status, 0) << day.err;
    EXPECT_NE(day.err.find(run == 0 ? "desk: sent" : "desk: already_sent"), std::string::npos) << day.err;
  }
  ASSERT_EQ(webhook.request_count(), 1u);
  EXPECT_NE(webhook.requests().at(0).body.find("quorvel 每日简报 2023-02-10"), std::string::npos);
  ASSERT_EQ(smtp.messages().size(), 1u);
  EXPECT_NE(smtp.messages().at(0).data.find("Message-ID: <daily-2023-02-10-"), std::string::npos);
  // The operator sees each channel's delivery of the day, sent once.
  const auto listed = box.run_in((fs::path(QUORVEL_DAILY_BIN).parent_path() / "quorvel-reports").string(),
                                 "deliveries 2023-02-10");
  ASSERT_EQ(listed.status, 0) << listed.err;
  for (const char* channel : {"desk", "mail"}) {
    std::istringstream rows(listed.out);
    std::string row, name, state;
    int attempts = 0;
    while (std::getline(rows, row) && !row.starts_with(std::string(channel) + " ")) {
    }
    std::istringstream(row) >> name >> state >> attempts;
    EXPECT_EQ(state + " " + std::to_string(attempts), "sent 1") << channel << "\n" << listed.out;
  }
}

TEST(DailyCli, AMarketWithoutASessionThatDayIsLeftOut) {
  Sandbox box;
  // Martin Luther King Day: Shanghai trades, New York does not.
  const auto holiday = box.run("-m A -m US --top 1 -t 2023-01-16");
  ASSERT_EQ(holiday.status, 0) << holiday.err;
  EXPECT_NE(holiday.out.find("未运行：US"), std::string::npos);
  EXPECT_EQ(holiday.out.find("筛选 US"), std::string::npos);
  EXPECT_NE(holiday.out.find("筛选 A：完成"), std::string::npos);
  // Chinese New Year: neither Shanghai nor Hong Kong trades; nothing to do is not a failure.
  const auto closed = box.run("-m A -m HK -t 2023-01-23");
  EXPECT_EQ(closed.status, 0) << closed.err;
  EXPECT_NE(closed.err.find("无事可做"), std::string::npos);
  EXPECT_FALSE(fs::exists(box.dir / "report" / "daily" / "2023-01-23"));
  // A session whose bars never arrived (the bundled data ends years before): nothing is screened or
  // analysed on old bars, which a rerun would then keep.
  const auto stale = box.run("-m A --top 1 -t 2026-12-08");
  EXPECT_EQ(stale.status, 0) << stale.err;
  EXPECT_NE(stale.out.find("本地没有其指数 2026-12-08 的K线"), std::string::npos) << stale.out;
  EXPECT_EQ(stale.out.find("分析：完成"), std::string::npos);
}

TEST(DailyCli, AFailedStepIsNamedAndTheLaterStepsStillRun) {
  Sandbox box;
  const auto run = box.run("-m US --top 0 --watchlist '" + box.watchlist("us.ZZZZQ\n").string() + "' -t 2022-12-30");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("以下步骤失败：分析"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("us.ZZZZQ"), std::string::npos);  // its failure is in the digest
  EXPECT_NE(run.out.find("大盘简报 US：完成"), std::string::npos);
  EXPECT_NE(run.out.find("计划评分：完成"), std::string::npos);
}

}  // namespace
}  // namespace quorvel
