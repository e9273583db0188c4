#include "quorvel/agent/core/llm_check.h"

#include <chrono>
#include <exception>
#include <optional>

#include <asio/awaitable.hpp>

#include "quorvel/agent/core/chat_protocol.h"
#include "quorvel/utils/run_sync.h"

namespace quorvel::agent::core {

namespace {

std::string count_text(long n) { return n < 0 ? "n/a" : std::to_string(n); }

struct CheckResult {
  ChatReply reply;
  double seconds = 0;
};

asio::awaitable<CheckResult> ask(std::shared_ptr<ModelClient> client, std::vector<ChatMessage> messages) {
  const auto start = std::chrono::steady_clock::now();
  CheckResult r;
  std::exception_ptr failure;
  try {
    auto call = client->create(std::move(messages));
    r.reply = co_await std::move(call);
  } catch (...) {
    failure = std::current_exception();
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  auto closing = client->close();
  co_await std::move(closing);
  if (failure) std::rethrow_exception(failure);
  co_return r;
}

// The environment with the check's own bound on the request and on the retries.
EnvLookup bounded_env(EnvLookup base, int seconds) {
  if (!base) base = process_env();
  return [base = std::move(base), bound = std::to_string(seconds), seconds](const std::string& name)
             -> std::optional<std::string> {
    if (name == "LLM_TIMEOUT" || name == "LLM_RETRY_BUDGET") return bound;
    if (name == "LLM_CONNECT_TIMEOUT" && seconds < 15) return bound;
    return base(name);
  };
}

}  // namespace

int run_llm_check(const LlmCheckOptions& options, std::ostream& out, std::ostream& err) {
  AgentLayerOptions layer_options = options.layer;
  layer_options.env = bounded_env(layer_options.env, options.timeout_seconds);
  DefaultAgentLayer layer(layer_options);
  ProviderConfig config;
  ClientBundle bundle;
  try {
    config = layer.configuration();
    bundle = layer.build_client();
  } catch (const std::exception& e) {
    err << "LLM 配置错误: " << e.what() << "\n";
    return 1;
  }
  out << "provider: " << config.type << "\n"
      << "base_url: " << display_url(config.base_url) << "\n"
      << "model: " << config.model << "\n";

  std::vector<ChatMessage> messages;
  if (!options.system_message.empty()) messages.push_back({"system", options.system_message});
  messages.push_back({"user", options.prompt});

  std::optional<CheckResult> result;
  try {
    result = run_sync(ask(bundle.model_client, std::move(messages)));
  } catch (const std::exception& e) {
    err << "LLM 调用失败: " << e.what() << "\n";
    return 1;
  }
  const ChatUsage& u = result->reply.usage;
  out << "reply_model: " << result->reply.model << "\n"
      << "latency_s: " << std::fixed;
  out.precision(2);
  out << result->seconds << "\n"
      << "prompt_tokens: " << count_text(u.prompt_tokens) << "\n"
      << "completion_tokens: " << count_text(u.completion_tokens) << "\n"
      << "cache_hit_tokens: " << count_text(u.cache_hit_tokens) << "\n"
      << "reasoning_chars: " << result->reply.reasoning_content.size() << "\n"
      << "reply: " << result->reply.content << "\n"
      << "LLM 连通性检查通过\n";
  return 0;
}

}  // namespace quorvel::agent::core
