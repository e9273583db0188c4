#pragma once
// A named single-turn chat agent: a fixed system message, the task as the user message, the model's
// answer as the last message of the result. Thread-safety: one run at a time (as its client).
#include <memory>
#include <string>

#include "contracts/llm_agent.h"

namespace quorvel::agent::core {

class SimpleChatAgent final : public ChatAgent {
 public:
  // With `keep_blank_answer` a blank answer is returned as the reply's content for the caller to
  // judge, and the client does not repeat the paid call for it; without it, the client treats a
  // blank answer as a fault of the provider (retried, then an error).
  SimpleChatAgent(std::string name, std::shared_ptr<ModelClient> model_client, std::string system_message,
                  bool keep_blank_answer = false);

  // Messages of the result: {"user", task}, then {name, answer}. The provider's reasoning text is
  // not part of the conversation. Errors of the client propagate.
  asio::awaitable<TaskResult> run(std::string task) override;

  const std::string& name() const { return name_; }
  const std::string& system_message() const { return system_message_; }

 private:
  std::string name_;
  std::shared_ptr<ModelClient> model_client_;
  std::string system_message_;
  bool keep_blank_answer_;
};

}  // namespace quorvel::agent::core
