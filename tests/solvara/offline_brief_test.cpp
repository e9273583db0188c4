#include <gtest/gtest.h>

#include "quorvel/agent/offline/offline_brief_writer.h"
#include "quorvel/agent/offline/offline_client.h"
#include "quorvel/agent/solvara/brief_generation.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/run_sync.h"
#include "solvara_fakes.h"
#include "support/test_support.h"
#include "tarnel/local_market_data.h"

namespace quorvel::agent::offline {
namespace {

class OfflineBrief : public ::testing::Test {
 protected:
  testing::TempDir dir;
  Service<tarnel::MarketData>::Guard data{
      std::make_shared<tarnel::LocalMarketData>(dir / "s.sqlite", get_project_root() / "data")};
  Service<zerith::SentimentThermometer>::Guard sentiment{std::make_shared<testing::FakeSentiment>()};

  std::string prompt(const std::string& market, const std::string& date) {
    return run_sync(solvara::build_brief_user_message(market, date, "env", "hist", "ind"));
  }
};

TEST_F(OfflineBrief, FollowsTheVerdictAndTheLengthBudgetOnRealData) {
  const struct {
    const char* market;
    const char* date;
  } cases[] = {{"A", "2023-02-10"}, {"A", "2022-04-25"}, {"A", "2020-02-03"}, {"A", "2021-07-01"},
               {"HK", "2023-11-07"}, {"HK", "2022-10-24"}, {"US", "2022-12-30"}, {"US", "2020-03-16"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.market) + " " + c.date);
    const auto facts = parse_brief_prompt(prompt(c.market, c.date));
    ASSERT_TRUE(facts);
    const std::string brief = write_offline_brief(*facts);
    EXPECT_EQ(brief.rfind("**▋ " + facts->market_label.substr(0, facts->market_label.find("（")) + "市场研判 · " +
                              facts->bias + " / " + facts->strength + "**\n",
                          0),
              0u)
        << brief;
    EXPECT_NE(brief.find("- **策略指引**：**" + facts->strategy + "**"), std::string::npos);
    for (const auto& line : facts->table_lines) EXPECT_NE(brief.find(line + "\n"), std::string::npos);
    EXPECT_GE(counted_characters(brief), 200u) << brief;
    EXPECT_LE(counted_characters(brief), 280u) << brief;
    EXPECT_EQ(brief.find("**▋ 情绪温度计**") != std::string::npos, std::string(c.market) == "A");
    EXPECT_NE(brief.find("**▋ 风险提示**\n⚠️ **风险**："), std::string::npos);
    EXPECT_EQ(brief.find("<think>"), std::string::npos);
  }
}

TEST_F(OfflineBrief, ClientAnswersBriefPromptsAndRefusesOthers) {
  OfflineModelClient client;
  const auto reply = run_sync(client.create({{"system", "s"}, {"user", prompt("A", "2023-02-10")}}));
  EXPECT_EQ(reply.model, "offline-rules");
  EXPECT_NE(reply.content.find("**▋ A 股大盘市场研判 · "), std::string::npos);
  EXPECT_NE(reply.content.find("周线温度 12.0"), std::string::npos);
  EXPECT_THROW(run_sync(client.create({{"user", "分析一下 sh.600000"}})), std::exception);
  EXPECT_EQ(make_offline_client_bundle().client_type, "offline");
}

}  // namespace
}  // namespace quorvel::agent::offline
