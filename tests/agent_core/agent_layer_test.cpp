// Chat agent, build_client, stock agents and the service installation, end to end against the fake
// chat server where a network call is involved.
#include "quorvel/agent/core/agent_layer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "agent_core/agent_test_helpers.h"
#include "support/fake_llm_server.h"
#include "quorvel/agent/core/chat_agent.h"
#include "quorvel/agent/core/stock_agent.h"
#include "quorvel/agent/prompts/vellumor/templates.h"

namespace quorvel::agent::core {
namespace {

using quorvel::testing::completion_body;
using quorvel::testing::env_of;
using quorvel::testing::fake_provider_env;
using quorvel::testing::FakeLlmServer;
using quorvel::run_sync;
using quorvel::testing::ScriptedModelClient;
using quorvel::testing::TEST_KEY;
using ::testing::HasSubstr;
using ::testing::Not;
namespace vellumor = quorvel::agent::prompts::vellumor;

StockAnalysisInputs sample_inputs() {
  StockAnalysisInputs in;
  in.stock_code = "hk.00700";
  in.market_type = "HK";
  in.stock_name = "腾讯控股";
  in.analysis_time = "2025-06-30";
  in.current_price = "512.5";
  in.stock_data = R"([{"Date":"2025-06-30","close":512.5}])";
  in.stock_week_data = "[]";
  in.pattern_info = R"({"pre_screen":{"strategy_hint":"趋势跟随"}})";
  in.selector_source = "筛选策略: 趋势跟随\nCombinedSelector";
  in.market_ai_brief = "**▋ 港股大盘市场研判 · 震荡 / 中**";
  in.pct_change = "+1.23";
  return in;
}

DefaultAgentLayer layer_for(const std::string& base_url) {
  return DefaultAgentLayer(AgentLayerOptions{env_of(fake_provider_env(base_url)), {nullptr, [] { return 0.0; }}});
}

TEST(ChatAgent, RunReturnsTheTaskThenTheNamedReply) {
  auto client = std::make_shared<ScriptedModelClient>(std::vector<std::string>{"简报正文"});
  SimpleChatAgent agent("SolvaraAgent", client, "系统消息");
  const TaskResult result = run_sync(agent.run("用户任务"));
  ASSERT_EQ(result.messages.size(), 2u);
  EXPECT_EQ(result.messages[0].source, "user");
  EXPECT_EQ(result.messages[0].content, "用户任务");
  EXPECT_EQ(result.messages[1].source, "SolvaraAgent");
  EXPECT_EQ(result.messages[1].content, "简报正文");
  ASSERT_EQ(client->calls.size(), 1u);
  ASSERT_EQ(client->calls[0].size(), 2u);
  EXPECT_EQ(client->calls[0][0].role, "system");
  EXPECT_EQ(client->calls[0][0].content, "系统消息");
  EXPECT_EQ(client->calls[0][1].role, "user");
}

TEST(ChatAgent, WithoutSystemMessageSendsOnlyTheTask) {
  auto client = std::make_shared<ScriptedModelClient>(std::vector<std::string>{"x"});
  SimpleChatAgent agent("A", client, "");
  run_sync(agent.run("t"));
  ASSERT_EQ(client->calls[0].size(), 1u);
  EXPECT_EQ(client->calls[0][0].role, "user");
  EXPECT_THROW(SimpleChatAgent("B", nullptr, "s"), ValueError);
}

TEST(AgentLayer, BuildClientReturnsClientModelDetailsAndTypeThatWorkWithTheChatAgent) {
  FakeLlmServer server;
  server.enqueue({200, completion_body("**▋ A 股大盘市场研判 · 偏空 / 中**"), {}, false});
  DefaultAgentLayer layer = layer_for(server.base_url());
  ClientBundle bundle = layer.build_client();
  EXPECT_EQ(bundle.model_name, "fake-model");
  EXPECT_EQ(bundle.client_type, "openai_compatible");
  EXPECT_EQ(bundle.details["base_url"], server.base_url());
  EXPECT_THAT(bundle.details.dump(), Not(HasSubstr(TEST_KEY)));

  auto agent = layer.make_chat_agent("SolvaraAgent", bundle.model_client, "系统");
  const TaskResult result = run_sync(agent->run("任务"));
  EXPECT_EQ(result.messages.back().source, "SolvaraAgent");
  EXPECT_EQ(result.messages.back().content, "**▋ A 股大盘市场研判 · 偏空 / 中**");
  run_sync(bundle.model_client->close());
}

TEST(AgentLayer, ConfigurationProblemsSurfaceFromBuildClient) {
  DefaultAgentLayer missing_key(AgentLayerOptions{env_of({{"LLM_CLIENT_TYPE", "deepseek"}}), {}});
  try {
    missing_key.build_client();
    FAIL() << "a missing key must fail";
  } catch (const ValueError& e) {
    EXPECT_THAT(e.what(), HasSubstr("DEEPSEEK_API_KEY"));
  }
  // The offline analyst needs no key and no network.
  DefaultAgentLayer offline(AgentLayerOptions{env_of({{"LLM_CLIENT_TYPE", "Offline"}}), {}});
  const ClientBundle bundle = offline.build_client();
  EXPECT_EQ(bundle.client_type, "offline");
  EXPECT_EQ(bundle.model_name, "offline-rules");
  ASSERT_TRUE(bundle.model_client);
}

TEST(StockAgent, FactoryGivesEachMarketItsSystemTemplateAndTheClientMembers) {
  auto layer = std::make_shared<DefaultAgentLayer>(
      AgentLayerOptions{env_of(fake_provider_env("http://127.0.0.1:9/v1")), {}});
  Service<AgentLayer>::Guard guard(layer);
  for (const auto& [type, market] : std::vector<std::pair<std::string, vellumor::Market>>{
           {"A", vellumor::Market::A}, {"HK", vellumor::Market::HK}, {"US", vellumor::Market::US},
           {"ETF", vellumor::Market::ETF}}) {
    SCOPED_TRACE(type);
    auto agent = StockAgentFactory::get_agent(type);
    auto* stock = dynamic_cast<MarketStockAgent*>(agent.get());
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(stock->system_message(), vellumor::stock_template(market, vellumor::Form::System));
    EXPECT_EQ(agent->model_name, "fake-model");
    EXPECT_EQ(agent->llm_client_type, "openai_compatible");
    EXPECT_NE(agent->client, nullptr);
  }
  EXPECT_THROW(StockAgentFactory::get_agent("JP"), ValueError);
}

TEST(StockAgent, AnalyzeSendsTheSameSystemBytesAndTheRenderedUserTemplate) {
  FakeLlmServer server;
  server.enqueue({200, completion_body("第一份分析"), {}, false});
  server.enqueue({200, completion_body("第二份分析"), {}, false});
  DefaultAgentLayer layer = layer_for(server.base_url());

  StockAnalysisInputs first = sample_inputs();
  StockAnalysisInputs second = sample_inputs();
  second.stock_code = "hk.09988";
  second.stock_name = "阿里巴巴-W";
  EXPECT_EQ(run_sync(layer.get_agent("HK")->analyze(first)), "第一份分析");
  EXPECT_EQ(run_sync(layer.get_agent("HK")->analyze(second)), "第二份分析");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  const auto a = nlohmann::json::parse(requests[0].body)["messages"];
  const auto b = nlohmann::json::parse(requests[1].body)["messages"];
  EXPECT_EQ(a[0]["role"], "system");
  EXPECT_EQ(a[0]["content"].get<std::string>(), vellumor::HK_STOCK_SYSTEM_TEMPLATE());
  EXPECT_EQ(a[0]["content"], b[0]["content"]);

  const std::string user = a[1]["content"].get<std::string>();
  for (const std::string& value : {first.stock_code, first.stock_name, first.analysis_time, first.current_price,
                                   first.pct_change, first.stock_data, first.pattern_info, first.market_ai_brief}) {
    EXPECT_THAT(user, HasSubstr(value));
  }
  EXPECT_THAT(user, Not(HasSubstr("{stock_code}")));
  EXPECT_THAT(user, Not(HasSubstr("{{")));
  EXPECT_THAT(b[1]["content"].get<std::string>(), HasSubstr("阿里巴巴-W"));
}

TEST(StockAgent, EtfAgentUsesTheFundLabels) {
  auto client = std::make_shared<ScriptedModelClient>(std::vector<std::string>{"ok"});
  MarketStockAgent agent("etf", ClientBundle{client, "m", {}, "deepseek"});
  EXPECT_EQ(agent.market(), "ETF");
  run_sync(agent.analyze(sample_inputs()));
  EXPECT_EQ(client->calls[0][1].content, agent.render_task(sample_inputs()));
  EXPECT_THAT(client->calls[0][1].content, HasSubstr("ETF代码"));
}

}  // namespace
}  // namespace quorvel::agent::core
