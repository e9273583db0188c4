#pragma once
// The connectivity check behind `quorvel-llm-check`: one short prompt through the configured client,
// then provider, model, latency and token usage on the output stream.
#include <ostream>
#include <string>

#include "quorvel/agent/core/agent_layer.h"

namespace quorvel::agent::core {

struct LlmCheckOptions {
  std::string prompt = "请只回答一个数字：1+1 等于几？";
  std::string system_message = "你是一个简洁的助手。";
  AgentLayerOptions layer;  // environment and client options
  // The whole check, retries included, ends after this many seconds; LLM_TIMEOUT and
  // LLM_RETRY_BUDGET do not lengthen it (they are meant for analyses, which take minutes).
  int timeout_seconds = 30;
};

// Returns the exit status: 0 on an answer, 1 on a configuration or call failure (the reason goes to
// `err`). Never prints the API key.
int run_llm_check(const LlmCheckOptions& options, std::ostream& out, std::ostream& err);

}  // namespace quorvel::agent::core
