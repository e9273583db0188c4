#pragma once
// Doubles of the services the market brief calls: market blocks, sentiment thermometer, report store
// and a scripted LLM agent layer that counts its generations.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "contracts/llm_agent.h"
#include "contracts/market_blocks.h"
#include "contracts/report_store.h"
#include "contracts/sentiment.h"

namespace quorvel::testing {

class FakeMarketBlocks : public MarketBlocks {
 public:
  std::string env = "| 指数 | 收盘 |\n| 上证指数 | 3260.67 |", hist = "date,close\n2023-02-10,3260.67", ind = "EMA...";
  nlohmann::ordered_json env_meta = nlohmann::ordered_json::object(), hist_meta = nlohmann::ordered_json::object();
  std::atomic<int> calls{0};  // the three builders run on worker threads
  TextBlock format_market_environment_block(const std::string&, const std::string&) override {
    ++calls;
    return {env, env_meta};
  }
  TextBlock format_market_history_block(const std::string&, int, const std::string&) override { return {hist, hist_meta}; }
  TextBlock format_market_indicator_block(const std::string&, int, const std::string&) override { return {ind, {}}; }
};

class FakeSentiment : public zerith::SentimentThermometer {
 public:
  nlohmann::ordered_json daily = {{"temperature", 41.25}, {"state", "NEUTRAL"}, {"direction", "warming"},
                                  {"confidence", 0.834}, {"n_etf", 57},
                                  {"factors", {{"breadth", 0.62}, {"momentum", 0.4}, {"turnover", 73.0}}}};
  nlohmann::ordered_json weekly = {{"temperature", 12.0}, {"state", "ICE_COLD"}, {"direction", "cooling"},
                                   {"confidence", 0.5}, {"n_etf", 57}, {"factors", nlohmann::ordered_json::object()}};
  bool fail = false;
  nlohmann::ordered_json compute_sentiment_snapshot(const std::optional<std::string>&, const zerith::SentimentConfig& c,
                                                    bool) override {
    if (fail) throw std::runtime_error(std::string(300, 'x'));
    return c.freq == "D" ? daily : weekly;
  }
  zerith::SentimentZoneDesc get_sentiment_zone_desc(double t) override {
    return {t < 15 ? "冰点区" : "中性区", t < 15 ? "左侧分批布局" : "均衡配置", ""};
  }
};

class FakeReportStore : public report::ReportStore {
 public:
  std::vector<report::SolvaraReport> briefs;
  bool fail = false;
  int flushes = 0;
  bool exists(const std::string&, const std::string&, const std::string&) override { return false; }
  void save_analysis_report(const report::AnalysisReport&) override {}
  void save_summary_report(const report::SummaryReport&) override {}
  void save_solvara(const report::SolvaraReport& r) override {
    if (fail) throw std::runtime_error("store down");
    briefs.push_back(r);
  }
  report::FlushResult flush() override {
    ++flushes;
    return {};
  }
};

// A chat agent layer whose model answers with `reply(user_message)` after a short timer, so that
// concurrent callers really interleave. Counts generations and client closes.
class ScriptedAgentLayer : public agent::AgentLayer {
 public:
  std::function<std::string(const std::string&)> reply = [](const std::string&) { return "**▋ 简报**"; };
  bool fail = false;
  int runs = 0, closes = 0;
  std::string last_system, last_task;

  class Client : public agent::ModelClient {
   public:
    explicit Client(ScriptedAgentLayer& owner) : owner_(owner) {}
    asio::awaitable<agent::ChatReply> create(std::vector<agent::ChatMessage>) override { co_return agent::ChatReply{}; }
    asio::awaitable<void> close() override {
      ++owner_.closes;
      co_return;
    }

   private:
    ScriptedAgentLayer& owner_;
  };

  class Agent : public agent::ChatAgent {
   public:
    Agent(ScriptedAgentLayer& owner, std::string system) : owner_(owner), system_(std::move(system)) {}
    asio::awaitable<agent::TaskResult> run(std::string task) override {
      asio::steady_timer timer(co_await asio::this_coro::executor, std::chrono::milliseconds(5));
      co_await timer.async_wait(asio::use_awaitable);
      ++owner_.runs;
      owner_.last_system = system_;
      owner_.last_task = task;
      if (owner_.fail) throw std::runtime_error("quota exceeded");
      co_return agent::TaskResult{{{"user", task}, {"SolvaraAgent", owner_.reply(task)}}};
    }

   private:
    ScriptedAgentLayer& owner_;
    std::string system_;
  };

  agent::ClientBundle build_client() override {
    return {std::make_shared<Client>(*this), "fake-model", nlohmann::ordered_json::object(), "fake"};
  }
  std::unique_ptr<agent::ChatAgent> make_chat_agent(const std::string&, std::shared_ptr<agent::ModelClient>,
                                                    const std::string& system_message) override {
    return std::make_unique<Agent>(*this, system_message);
  }
  std::unique_ptr<agent::StockAgent> get_agent(const std::string&) override { return nullptr; }
  std::string build_summary_markdown_report(const agent::schemas::StockDecision&, const std::string&) override {
    return "";
  }
};

}  // namespace quorvel::testing
