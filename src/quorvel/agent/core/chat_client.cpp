#include "quorvel/agent/core/chat_client.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <random>

#include "contracts/clock.h"
#include "contracts/retry_timer.h"
#include "quorvel/agent/core/retry_policy.h"
#include "quorvel/utils/blocking.h"
#include "quorvel/utils/logger.h"

namespace quorvel::agent::core {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

double random_jitter() {
  thread_local std::mt19937_64 engine{std::random_device{}()};
  return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
}

std::string count_text(long n) { return n < 0 ? "n/a" : std::to_string(n); }

double seconds(steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

ChatCompletionsClient::ChatCompletionsClient(ProviderConfig config, ClientOptions options)
    : config_(std::move(config)), gate_(&provider_gate(config_)), options_(std::move(options)) {
  if (!options_.jitter) options_.jitter = random_jitter;
}

HttpRequest ChatCompletionsClient::make_request(const std::vector<ChatMessage>& messages) const {
  HttpRequest r;
  r.url = chat_completions_url(config_.base_url);
  r.body = build_chat_request_body(config_, messages);
  r.headers = {"Content-Type: application/json", "Accept: application/json", "Expect:"};
  if (!config_.api_key.empty()) r.headers.push_back("Authorization: Bearer " + config_.api_key);
  r.connect_timeout = config_.timeouts.connect;
  r.total_timeout = config_.timeouts.total;
  return r;
}

ParsedReply ChatCompletionsClient::evaluate(const HttpResponse& response, bool keep_blank_answer) const {
  const std::string who = "[LLM] " + config_.type + " ";
  const std::string where = display_url(chat_completions_url(config_.base_url));
  switch (response.failure) {
    case TransportFailure::timeout:
      throw LlmError(redact(who + "请求超时（连接上限 " + std::to_string(config_.timeouts.connect.count() / 1000) +
                                "s，总上限 " + std::to_string(config_.timeouts.total.count() / 1000) +
                                "s，可用 LLM_CONNECT_TIMEOUT / LLM_TIMEOUT 调整）: " + response.failure_text,
                            config_.api_key),
                     0, true);
    case TransportFailure::connection:
      throw LlmError(redact(who + "连接失败 " + where + "（请确认服务可达、" + env_prefix(config_.type) +
                                "_BASE_URL 正确）: " + response.failure_text,
                            config_.api_key),
                     0, true);
    case TransportFailure::too_large:
      throw LlmError(redact(who + where + " 的" + response.failure_text + "（服务异常或模型失控输出，未重试）",
                            config_.api_key),
                     0, false);
    case TransportFailure::other:
      throw LlmError(redact(who + "请求无法发出 " + where + "（请检查 " + env_prefix(config_.type) +
                                "_BASE_URL）: " + response.failure_text,
                            config_.api_key),
                     0, false);
    case TransportFailure::none:
      break;
  }
  if (response.status < 200 || response.status > 299) throw http_status_error(config_, response.status, response.body);
  return parse_chat_reply(config_, response.body, keep_blank_answer);
}

asio::awaitable<ChatReply> ChatCompletionsClient::create(std::vector<ChatMessage> messages) {
  return send(std::move(messages), false);
}

asio::awaitable<ChatReply> ChatCompletionsClient::create_keeping_blank(std::vector<ChatMessage> messages) {
  return send(std::move(messages), true);
}

// GCC 12 reports asio's recycled coroutine-frame allocator as a new/delete mismatch in this
// coroutine; the frame is allocated and freed by the same promise type, so the warning is spurious.
asio::awaitable<ChatReply> ChatCompletionsClient::send(std::vector<ChatMessage> messages, bool keep_blank_answer) {
  if (closed_) throw RuntimeError("[LLM] " + config_.type + " 客户端已关闭，不能再发送请求");
  const HttpRequest request = make_request(messages);
  asio::thread_pool& pool = options_.pool ? *options_.pool : gate_->transport_pool();
  const auto first_start = retry_timer().now();
  for (int attempt = 1;; ++attempt) {
    auto enter = gate_->enter();
    ProviderGate::Permit permit = co_await std::move(enter);
    const auto start = steady_clock::now();
    auto post = run_blocking(pool, [&request] { return http_post(request); });
    const HttpResponse response = co_await std::move(post);
    const auto latency = steady_clock::now() - start;
    permit.release();

    std::optional<LlmError> error;
    ParsedReply parsed;
    try {
      parsed = evaluate(response, keep_blank_answer);
    } catch (const LlmError& e) {
      error = e;
    }
    if (!error) {
      const ChatUsage& u = parsed.reply.usage;
      logger.info("[LLM] 调用完成 | provider=%s model=%s latency=%.2fs attempts=%d prompt_tokens=%s completion_tokens=%s "
                  "cache_hit_tokens=%s",
                  config_.type, parsed.reply.model.empty() ? config_.model : parsed.reply.model, seconds(latency),
                  attempt, count_text(u.prompt_tokens), count_text(u.completion_tokens), count_text(u.cache_hit_tokens));
      if (parsed.finish_reason == "length") {
        logger.warning("[LLM] 输出达到 token 上限被截断 | provider=%s model=%s，可调大 %s_MAX_TOKENS", config_.type,
                       config_.model, env_prefix(config_.type));
      }
      if (parsed.reply.model.empty()) parsed.reply.model = config_.model;
      co_return std::move(parsed.reply);
    }

    std::optional<milliseconds> retry_after;
    if (response.retry_after) retry_after = parse_retry_after(*response.retry_after, clock().now());
    const auto elapsed = std::chrono::duration_cast<milliseconds>(retry_timer().now() - first_start);
    const RetryDecision decision =
        decide_retry(config_.retry, error->retryable(), attempt, elapsed, retry_after, options_.jitter());
    pause_provider(response, retry_after, decision.delay);
    if (!decision.retry) {
      std::string message = error->what();
      if (error->retryable()) message += " | 已尝试 " + std::to_string(attempt) + " 次，" + decision.stop_reason;
      logger.warning("[LLM] 请求最终失败 | %s", message);
      throw LlmError(message, error->status(), false);
    }
    logger.warning("[LLM] 第 %d 次请求失败，%.2f 秒后重试 | provider=%s | %s", attempt,
                   double(decision.delay.count()) / 1000.0, config_.type, error->what());
    auto pause = retry_timer().wait_for(decision.delay);
    co_await std::move(pause);
  }
}

void ChatCompletionsClient::pause_provider(const HttpResponse& response, std::optional<milliseconds> retry_after,
                                           milliseconds backoff) const {
  if (response.status != 429 && !retry_after) return;
  const milliseconds wait = std::max(retry_after.value_or(milliseconds(0)), backoff);
  if (wait <= milliseconds(0)) return;
  gate_->pause_for(wait);
  logger.warning("[LLM] 服务方要求等待 (HTTP %d)：%s 的全部请求暂停 %.2f 秒 | provider=%s", response.status,
                 display_url(config_.base_url), double(wait.count()) / 1000.0, config_.type);
}

asio::awaitable<void> ChatCompletionsClient::close() {
  closed_ = true;
  co_return;
}

}  // namespace quorvel::agent::core
