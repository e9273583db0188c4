#pragma once
// When and how long to wait before repeating a failed HTTP request (LLM calls, market data).
// Pure functions of their inputs; the caller supplies the clock readings and the random jitter.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

struct RetryPolicy {
  int max_attempts = 4;                                   // first try included
  std::chrono::milliseconds base_delay{1000};             // wait after the first failure
  std::chrono::milliseconds max_delay{30000};             // cap of the exponential backoff
  std::chrono::milliseconds total_budget{std::chrono::minutes(10)};  // all attempts and waits together
};

// 429 and every 5xx are worth repeating; every other status is an answer.
bool is_retryable_status(long status);

// Value of a Retry-After header: delta seconds, or an HTTP date measured from `now`. Absent when
// the header is empty or malformed; a date in the past gives zero.
std::optional<std::chrono::milliseconds> parse_retry_after(std::string_view value,
                                                           std::chrono::system_clock::time_point now);

// Exponential backoff with "equal jitter": after the n-th failure (n >= 1) the wait is
// d = min(max_delay, base_delay * 2^(n-1)), drawn uniformly from [d/2, d] by `jitter` in [0, 1).
std::chrono::milliseconds backoff_delay(const RetryPolicy& policy, int failures, double jitter);

struct RetryDecision {
  bool retry = false;
  std::chrono::milliseconds delay{0};
  std::string stop_reason;  // why no further attempt is made (empty when retrying)
};

// Decides after a failed attempt. `attempts` is the number of attempts made so far, `elapsed` the
// time since the first one started. A Retry-After from the server lengthens the wait, never
// shortens it; a wait that would end beyond the total budget is not started.
RetryDecision decide_retry(const RetryPolicy& policy, bool retryable, int attempts,
                           std::chrono::milliseconds elapsed,
                           std::optional<std::chrono::milliseconds> retry_after, double jitter);

}  // namespace quorvel
