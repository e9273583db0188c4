#include "quorvel/agent/core/usage_ledger.h"

#include <exception>
#include <utility>

#include "contracts/errors.h"

namespace quorvel::agent::core {

UsageTotals UsageTotals::since(const UsageTotals& e) const {
  return {calls - e.calls,
          failed_calls - e.failed_calls,
          prompt_tokens - e.prompt_tokens,
          completion_tokens - e.completion_tokens,
          cache_hit_tokens - e.cache_hit_tokens,
          usage_reported - e.usage_reported,
          cache_reported - e.cache_reported};
}

void UsageLedger::record(const ChatUsage& usage) {
  calls_ += 1;
  if (usage.prompt_tokens >= 0 || usage.completion_tokens >= 0) usage_reported_ += 1;
  if (usage.prompt_tokens > 0) prompt_ += usage.prompt_tokens;
  if (usage.completion_tokens > 0) completion_ += usage.completion_tokens;
  if (usage.cache_hit_tokens >= 0) {
    cache_hit_ += usage.cache_hit_tokens;
    cache_reported_ += 1;
  }
}

void UsageLedger::record_failure() { failed_ += 1; }

UsageTotals UsageLedger::totals() const {
  return {calls_.load(),     failed_.load(),         prompt_.load(),        completion_.load(),
          cache_hit_.load(), usage_reported_.load(), cache_reported_.load()};
}

UsageLedger& usage_ledger() {
  static UsageLedger ledger;
  return ledger;
}

MeteredModelClient::MeteredModelClient(std::shared_ptr<ModelClient> inner, UsageLedger& ledger)
    : inner_(std::move(inner)), ledger_(ledger) {
  if (!inner_) throw ValueError("MeteredModelClient 缺少被计量的 model_client");
}

asio::awaitable<ChatReply> MeteredModelClient::create(std::vector<ChatMessage> messages) {
  return metered(inner_->create(std::move(messages)));
}

asio::awaitable<ChatReply> MeteredModelClient::create_keeping_blank(std::vector<ChatMessage> messages) {
  return metered(inner_->create_keeping_blank(std::move(messages)));
}

asio::awaitable<ChatReply> MeteredModelClient::metered(asio::awaitable<ChatReply> call) {
  std::exception_ptr failure;
  ChatReply reply;
  try {
    reply = co_await std::move(call);
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    ledger_.record_failure();
    std::rethrow_exception(failure);
  }
  ledger_.record(reply.usage);
  co_return reply;
}

asio::awaitable<void> MeteredModelClient::close() {
  auto close = inner_->close();
  co_await std::move(close);
}

}  // namespace quorvel::agent::core
