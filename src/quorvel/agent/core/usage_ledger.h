#pragma once
// What the LLM calls of this process cost: calls and token counts added up over every model client
// the agent layer builds, so a command that runs many analyses can report its bill without
// touching the analyses. Thread-safe.
#include <atomic>
#include <memory>
#include <vector>

#include "contracts/llm_agent.h"

namespace quorvel::agent::core {

// Sums since the start of the process (or between two snapshots, see `since`). Token sums only
// include the counts the provider reported.
struct UsageTotals {
  long calls = 0;            // calls that returned a reply
  long failed_calls = 0;     // calls that ended in an error (after the client's own retries)
  long prompt_tokens = 0;
  long completion_tokens = 0;
  long cache_hit_tokens = 0;  // prompt tokens the provider billed at its cached rate
  long usage_reported = 0;    // replies that carried token counts at all
  long cache_reported = 0;    // replies whose usage carried a cache-hit count

  // The difference `*this - earlier`.
  UsageTotals since(const UsageTotals& earlier) const;
};

class UsageLedger {
 public:
  void record(const ChatUsage& usage);
  void record_failure();
  UsageTotals totals() const;

 private:
  std::atomic<long> calls_{0}, failed_{0}, prompt_{0}, completion_{0}, cache_hit_{0}, usage_reported_{0}, cache_reported_{0};
};

// The ledger of the process.
UsageLedger& usage_ledger();

// A model client that enters every call of the client it wraps into a ledger. Same thread-safety
// as the wrapped client.
class MeteredModelClient final : public ModelClient {
 public:
  MeteredModelClient(std::shared_ptr<ModelClient> inner, UsageLedger& ledger);
  asio::awaitable<ChatReply> create(std::vector<ChatMessage> messages) override;
  asio::awaitable<ChatReply> create_keeping_blank(std::vector<ChatMessage> messages) override;
  asio::awaitable<void> close() override;

 private:
  asio::awaitable<ChatReply> metered(asio::awaitable<ChatReply> call);

  std::shared_ptr<ModelClient> inner_;
  UsageLedger& ledger_;
};

}  // namespace quorvel::agent::core
