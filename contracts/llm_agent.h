#pragma once
// The LLM agent layer (`quorvel.agent.core`): model clients, the chat agent, the per-market stock
// agents and the summary writer. Network calls are awaitables on the command's event loop.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <asio/awaitable.hpp>
#include <nlohmann/json.hpp>

#include "contracts/service.h"

namespace quorvel::agent::schemas {
struct StockDecision;
}

namespace quorvel::agent {

struct ChatMessage {
  std::string role;  // "system", "user" or "assistant"
  std::string content;
};

// Token counts of one call; a count the provider did not report is -1.
struct ChatUsage {
  long prompt_tokens = -1;
  long completion_tokens = -1;
  long cache_hit_tokens = -1;
};

struct ChatReply {
  std::string content;
  std::string reasoning_content;  // the provider's separate reasoning text, kept apart from content
  std::string model;
  ChatUsage usage;
};

// One configured connection to a chat-completions model. Thread-safety: one call at a time.
class ModelClient {
 public:
  virtual ~ModelClient() = default;
  virtual asio::awaitable<ChatReply> create(std::vector<ChatMessage> messages) = 0;
  // As `create`, but a well-formed reply whose answer is blank comes back as it is, for the caller
  // to judge, instead of counting as a fault the client may retry. Clients that never fail on a
  // blank answer need not override it.
  virtual asio::awaitable<ChatReply> create_keeping_blank(std::vector<ChatMessage> messages) {
    return create(std::move(messages));
  }
  virtual asio::awaitable<void> close() = 0;
};

// The four values of `build_client`: client, model name, provider details (ignored by callers),
// client type name.
struct ClientBundle {
  std::shared_ptr<ModelClient> model_client;
  std::string model_name;
  nlohmann::ordered_json details;
  std::string client_type;
};

struct AgentMessage {
  std::string source;  // "user" for the task, the agent's name for its replies
  std::string content;
};

struct TaskResult {
  std::vector<AgentMessage> messages;  // the task first, the model's reply last
};

// A named agent with a fixed system message.
class ChatAgent {
 public:
  virtual ~ChatAgent() = default;
  virtual asio::awaitable<TaskResult> run(std::string task) = 0;
};

// The named inputs of one stock analysis.
struct StockAnalysisInputs {
  std::string stock_code;
  std::optional<std::string> market_type;
  std::string stock_name;
  std::string analysis_time;
  std::string current_price;
  std::string stock_data;
  std::string stock_week_data;
  std::string pattern_info;
  std::string selector_source;
  std::string market_ai_brief;
  std::string pct_change;
};

// The per-market analyst. Members that an agent does not have are absent.
class StockAgent {
 public:
  virtual ~StockAgent() = default;
  virtual asio::awaitable<std::string> analyze(const StockAnalysisInputs& inputs) = 0;
  // The system and user messages `analyze` sends for `inputs`, for the analysis' audit file; empty
  // texts when the agent cannot tell.
  virtual std::pair<std::string, std::string> prompt_messages(const StockAnalysisInputs& inputs) const {
    (void)inputs;
    return {};
  }

  std::optional<std::string> model_name;
  std::optional<std::string> llm_client_type;
  std::shared_ptr<ModelClient> client;
};

class AgentLayer {
 public:
  static constexpr const char* kServiceName = "LLM agent layer (quorvel.agent.core)";
  virtual ~AgentLayer() = default;

  virtual ClientBundle build_client() = 0;
  virtual std::unique_ptr<ChatAgent> make_chat_agent(const std::string& name, std::shared_ptr<ModelClient> model_client,
                                                     const std::string& system_message) = 0;
  // A stock agent for "A", "HK", "US" or "ETF".
  virtual std::unique_ptr<StockAgent> get_agent(const std::string& type) = 0;
  virtual std::string build_summary_markdown_report(const schemas::StockDecision& decision,
                                                    const std::string& model_name) = 0;
};

inline AgentLayer& agent_layer() { return Service<AgentLayer>::current(); }

inline ClientBundle build_client() { return agent_layer().build_client(); }

struct StockAgentFactory {
  static std::unique_ptr<StockAgent> get_agent(const std::string& type) { return agent_layer().get_agent(type); }
};

inline std::string build_summary_markdown_report(const schemas::StockDecision& decision, const std::string& model_name) {
  return agent_layer().build_summary_markdown_report(decision, model_name);
}

}  // namespace quorvel::agent
