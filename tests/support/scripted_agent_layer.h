#pragma once
// A scripted LLM agent layer. Chat agents answer with `reply(task)` after a short timer, so that
// concurrent callers really interleave; stock agents (only when `stock_reply` is set) answer with
// `stock_reply(inputs)`, which may throw to fail the call. Counts runs and client closes and
// records what the agents were asked.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "contracts/llm_agent.h"

namespace quorvel::testing {

class ScriptedAgentLayer : public agent::AgentLayer {
 public:
  std::function<std::string(const std::string&)> reply = [](const std::string&) { return "**▋ 简报**"; };
  bool fail = false;
  int runs = 0, closes = 0;
  std::string last_system, last_task;

  // Stock agents.
  std::function<std::string(const agent::StockAnalysisInputs&)> stock_reply;  // empty: get_agent gives null
  std::optional<std::string> stock_model_name = "fake-model";
  std::optional<std::string> stock_client_type = "fake";
  bool fail_close = false;
  std::vector<std::string> agent_types;
  std::vector<agent::StockAnalysisInputs> analyses;
  // The summary writer; empty: the empty text.
  std::function<std::string(const agent::schemas::StockDecision&, const std::string&)> summary_writer;

  class Client : public agent::ModelClient {
   public:
    explicit Client(ScriptedAgentLayer& owner) : owner_(owner) {}
    asio::awaitable<agent::ChatReply> create(std::vector<agent::ChatMessage>) override { co_return agent::ChatReply{}; }
    asio::awaitable<void> close() override {
      ++owner_.closes;
      if (owner_.fail_close) throw std::runtime_error("already closed");
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

  class StockAgentDouble : public agent::StockAgent {
   public:
    explicit StockAgentDouble(ScriptedAgentLayer& owner) : owner_(owner) {}
    asio::awaitable<std::string> analyze(const agent::StockAnalysisInputs& inputs) override {
      owner_.analyses.push_back(inputs);
      co_return owner_.stock_reply(inputs);
    }

   private:
    ScriptedAgentLayer& owner_;
  };

  agent::ClientBundle build_client() override {
    return {std::make_shared<Client>(*this), "fake-model", nlohmann::ordered_json::object(), "fake"};
  }
  std::unique_ptr<agent::ChatAgent> make_chat_agent(const std::string&, std::shared_ptr<agent::ModelClient>,
                                                    const std::string& system_message) override {
    return std::make_unique<Agent>(*this, system_message);
  }
  std::unique_ptr<agent::StockAgent> get_agent(const std::string& type) override {
    if (!stock_reply) return nullptr;
    agent_types.push_back(type);
    auto a = std::make_unique<StockAgentDouble>(*this);
    a->model_name = stock_model_name;
    a->llm_client_type = stock_client_type;
    a->client = std::make_shared<Client>(*this);
    return a;
  }
  std::string build_summary_markdown_report(const agent::schemas::StockDecision& decision,
                                            const std::string& model_name) override {
    return summary_writer ? summary_writer(decision, model_name) : "";
  }
};

}  // namespace quorvel::testing
