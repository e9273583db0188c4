#pragma once
// The retry timer service: how a repeated request waits (backoff, Retry-After, a provider's pause)
// and the monotonic time those waits are measured in. Tests install a virtual timer whose waits
// advance its own time at once, so no test sits through a real backoff.
#include <chrono>

#include <asio/awaitable.hpp>

#include "contracts/service.h"

namespace quorvel {

class RetryTimer {
 public:
  static constexpr const char* kServiceName = "retry timer";
  virtual ~RetryTimer() = default;

  virtual std::chrono::steady_clock::time_point now() const = 0;
  // Blocks the calling thread (code that runs on the worker pool).
  virtual void sleep_for(std::chrono::milliseconds wait) = 0;
  // Suspends the calling coroutine; its event loop goes on with other work.
  virtual asio::awaitable<void> wait_for(std::chrono::milliseconds wait) = 0;

  static RetryTimer& default_instance();
};

// The machine's steady clock and real waits.
class SteadyRetryTimer final : public RetryTimer {
 public:
  std::chrono::steady_clock::time_point now() const override;
  void sleep_for(std::chrono::milliseconds wait) override;
  asio::awaitable<void> wait_for(std::chrono::milliseconds wait) override;
};

inline RetryTimer& retry_timer() { return Service<RetryTimer>::current(); }

}  // namespace quorvel
