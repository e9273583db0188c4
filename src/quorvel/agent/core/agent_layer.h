#pragma once
// The product's LLM agent layer: clients from the configured provider, single-turn chat agents,
// per-market stock agents and the summary writer. The commands install it once in `main`;
// tests install doubles of the AgentLayer contract instead.
//
// Thread-safety: build_client, make_chat_agent, get_agent and the summary writer may be called from
// any thread; each client and agent they return serves one call at a time.
#include <memory>
#include <string>

#include "contracts/llm_agent.h"
#include "quorvel/agent/core/chat_client.h"
#include "quorvel/agent/core/provider_config.h"

namespace quorvel::agent::core {

struct AgentLayerOptions {
  EnvLookup env;          // empty: the process environment, read at every build_client
  ClientOptions client;   // worker pool and jitter of the clients
};

// A client for a resolved provider: the chat-completions client, or the offline rule-based analyst,
// its calls entered into the process's usage ledger (usage_ledger.h).
std::shared_ptr<ModelClient> make_model_client(const ProviderConfig& config, const ClientOptions& options);

class DefaultAgentLayer final : public AgentLayer {
 public:
  explicit DefaultAgentLayer(AgentLayerOptions options = {});

  // A fresh client of the provider LLM_CLIENT_TYPE selects. Fails with a ValueError naming the
  // variable when the key or another setting is missing or malformed.
  ClientBundle build_client() override;
  // A single-turn agent whose result carries the model's answer as it came, blank included.
  std::unique_ptr<ChatAgent> make_chat_agent(const std::string& name, std::shared_ptr<ModelClient> model_client,
                                             const std::string& system_message) override;
  // "A", "HK", "US" or "ETF"; builds its own client.
  std::unique_ptr<StockAgent> get_agent(const std::string& type) override;
  std::string build_summary_markdown_report(const schemas::StockDecision& decision,
                                            const std::string& model_name) override;

  // The resolved configuration, for a check at start-up before any data work.
  ProviderConfig configuration() const;

 private:
  AgentLayerOptions options_;
};

// Installs DefaultAgentLayer as the process's agent layer.
void install_agent_layer(AgentLayerOptions options = {});

}  // namespace quorvel::agent::core
