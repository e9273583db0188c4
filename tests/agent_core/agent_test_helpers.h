#pragma once
#include "quorvel/utils/run_sync.h"
// Small builders shared by the agent-layer tests.
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include "contracts/llm_agent.h"
#include "quorvel/agent/core/provider_config.h"

namespace quorvel::testing {

inline constexpr const char* TEST_KEY = "sk-test-7f3a9c1e5b2d4f60";

// An environment given as a map (absent names are unset).
inline agent::core::EnvLookup env_of(std::map<std::string, std::string> vars) {
  return [vars = std::move(vars)](const std::string& name) -> std::optional<std::string> {
    const auto it = vars.find(name);
    if (it == vars.end() || it->second.empty()) return std::nullopt;
    return it->second;
  };
}

// The environment of an openai_compatible provider at `base_url` with fast retries.
inline std::map<std::string, std::string> fake_provider_env(const std::string& base_url) {
  return {{"LLM_CLIENT_TYPE", "openai_compatible"},
          {"OPENAI_COMPATIBLE_API_KEY", TEST_KEY},
          {"OPENAI_COMPATIBLE_BASE_URL", base_url},
          {"OPENAI_COMPATIBLE_MODEL", "fake-model"},
          {"LLM_CONNECT_TIMEOUT", "2"},
          {"LLM_TIMEOUT", "5"}};
}

inline agent::core::ProviderConfig fast_config(const std::string& base_url, int max_attempts = 3) {
  auto c = agent::core::resolve_provider_config(env_of(fake_provider_env(base_url)));
  c.retry.max_attempts = max_attempts;
  c.retry.base_delay = std::chrono::milliseconds(1);
  c.retry.max_delay = std::chrono::milliseconds(4);
  return c;
}


// A model client that answers from a list and records what it was sent.
class ScriptedModelClient : public agent::ModelClient {
 public:
  explicit ScriptedModelClient(std::vector<std::string> answers) : answers_(std::move(answers)) {}
  asio::awaitable<agent::ChatReply> create(std::vector<agent::ChatMessage> messages) override {
    calls.push_back(std::move(messages));
    agent::ChatReply reply;
    reply.content = answers_.at(calls.size() - 1);
    co_return reply;
  }
  asio::awaitable<void> close() override {
    ++closed;
    co_return;
  }
  std::vector<std::vector<agent::ChatMessage>> calls;
  int closed = 0;

 private:
  std::vector<std::string> answers_;
};

}  // namespace quorvel::testing
