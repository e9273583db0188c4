#pragma once
// The OpenAI-compatible chat-completions client: one request per `create`, sent with time-outs and
// bounded, jittered retries through the provider's gate (provider_gate.h: requests in flight per
// provider, and a pause for every client of the provider when it answers 429 or Retry-After);
// every successful call logs model, latency and token usage. Thread-safety: one call at a time per
// client (as for every ModelClient).
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include <asio/thread_pool.hpp>

#include "contracts/llm_agent.h"
#include "quorvel/agent/core/chat_protocol.h"
#include "quorvel/agent/core/http_transport.h"
#include "quorvel/agent/core/provider_config.h"
#include "quorvel/agent/core/provider_gate.h"

namespace quorvel::agent::core {

struct ClientOptions {
  asio::thread_pool* pool = nullptr;  // null: the threads of the provider's gate
  std::function<double()> jitter;     // uniform in [0, 1); empty: a random source
};

class ChatCompletionsClient final : public ModelClient {
 public:
  explicit ChatCompletionsClient(ProviderConfig config, ClientOptions options = {});

  // Fails with an LlmError once the retries are spent or on an answer that repetition cannot fix.
  asio::awaitable<ChatReply> create(std::vector<ChatMessage> messages) override;
  // A blank answer is returned instead of retried; every other outcome as for `create`.
  asio::awaitable<ChatReply> create_keeping_blank(std::vector<ChatMessage> messages) override;
  // Later calls of `create` fail.
  asio::awaitable<void> close() override;

  const std::string& provider() const { return config_.type; }
  const std::string& model() const { return config_.model; }

 private:
  asio::awaitable<ChatReply> send(std::vector<ChatMessage> messages, bool keep_blank_answer);
  HttpRequest make_request(const std::vector<ChatMessage>& messages) const;
  // The reply of one HTTP exchange, or the error it amounts to.
  ParsedReply evaluate(const HttpResponse& response, bool keep_blank_answer) const;

  // Pauses the provider's gate after an answer that asks for a wait (429, Retry-After).
  void pause_provider(const HttpResponse& response, std::optional<std::chrono::milliseconds> retry_after,
                      std::chrono::milliseconds backoff) const;

  ProviderConfig config_;
  ProviderGate* gate_;  // process-wide, outlives the client
  ClientOptions options_;
  std::atomic<bool> closed_{false};
};

}  // namespace quorvel::agent::core
