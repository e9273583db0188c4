#include "quorvel/agent/core/agent_layer.h"

#include <utility>

#include "contracts/errors.h"
#include "quorvel/agent/core/chat_agent.h"
#include "quorvel/agent/core/stock_agent.h"
#include "quorvel/agent/core/summary_report.h"
#include "quorvel/agent/core/usage_ledger.h"
#include "quorvel/agent/offline/offline_client.h"
#include "quorvel/agent/core/chat_protocol.h"
#include "quorvel/utils/logger.h"

namespace quorvel::agent::core {

namespace {

std::shared_ptr<ModelClient> bare_model_client(const ProviderConfig& config, const ClientOptions& options) {
  switch (config.kind) {
    case ClientKind::chat_completions:
      return std::make_shared<ChatCompletionsClient>(config, options);
    case ClientKind::offline:
      return std::make_shared<offline::OfflineModelClient>();
  }
  throw RuntimeError("LLM_CLIENT_TYPE=" + config.type + " 没有对应的客户端实现");
}

}  // namespace

std::shared_ptr<ModelClient> make_model_client(const ProviderConfig& config, const ClientOptions& options) {
  return std::make_shared<MeteredModelClient>(bare_model_client(config, options), usage_ledger());
}

DefaultAgentLayer::DefaultAgentLayer(AgentLayerOptions options) : options_(std::move(options)) {
  if (!options_.env) options_.env = process_env();
}

ProviderConfig DefaultAgentLayer::configuration() const { return resolve_provider_config(options_.env); }

ClientBundle DefaultAgentLayer::build_client() {
  const ProviderConfig config = configuration();
  // Where the API key is about to go, so a redirected base URL shows in the log before any call.
  if (config.kind != ClientKind::offline)
    logger.info("[LLM] 客户端 %s | 模型 %s | 服务地址 %s", config.type, config.model, display_url(config.base_url));
  ClientBundle bundle;
  bundle.model_client = make_model_client(config, options_.client);
  bundle.model_name = config.model;
  bundle.details = config.describe();
  bundle.client_type = config.type;
  return bundle;
}

std::unique_ptr<ChatAgent> DefaultAgentLayer::make_chat_agent(const std::string& name,
                                                              std::shared_ptr<ModelClient> model_client,
                                                              const std::string& system_message) {
  // The conversation as the model answered it: the caller judges a blank answer (the market brief
  // fails on it at once rather than paying for repeated calls).
  return std::make_unique<SimpleChatAgent>(name, std::move(model_client), system_message, true);
}

std::unique_ptr<StockAgent> DefaultAgentLayer::get_agent(const std::string& type) {
  return std::make_unique<MarketStockAgent>(type, build_client());
}

std::string DefaultAgentLayer::build_summary_markdown_report(const schemas::StockDecision& decision,
                                                             const std::string& model_name) {
  return core::build_summary_markdown_report(decision, model_name);
}

void install_agent_layer(AgentLayerOptions options) {
  Service<AgentLayer>::install(std::make_shared<DefaultAgentLayer>(std::move(options)));
}

}  // namespace quorvel::agent::core
