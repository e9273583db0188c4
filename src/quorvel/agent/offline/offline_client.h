#pragma once
// The `offline` model client: a deterministic, clearly labelled rule-based analyst that answers the
// system's own prompts from the data they carry, with no network. Model name "offline-rules".
#include <memory>

#include "contracts/llm_agent.h"

namespace quorvel::agent::offline {

inline constexpr const char* OFFLINE_MODEL_NAME = "offline-rules";
inline constexpr const char* OFFLINE_CLIENT_TYPE = "offline";

class OfflineModelClient final : public ModelClient {
 public:
  // Answers a market-brief prompt with the rule-based brief and a stock-analysis prompt with the
  // rule-based analysis; any other prompt is a RuntimeError saying the offline analyst cannot answer it.
  asio::awaitable<ChatReply> create(std::vector<ChatMessage> messages) override;
  asio::awaitable<void> close() override { co_return; }
};

// The four values of build_client for the offline analyst.
ClientBundle make_offline_client_bundle();

}  // namespace quorvel::agent::offline
