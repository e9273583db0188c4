#pragma once
// A retry timer whose waits take no real time: each wait is recorded and moves the timer's own
// clock forward by its length. Install it with a Service<RetryTimer>::Guard.
#include <chrono>
#include <mutex>
#include <vector>

#include <asio/awaitable.hpp>

#include "contracts/retry_timer.h"

namespace quorvel::testing {

class VirtualRetryTimer final : public RetryTimer {
 public:
  std::chrono::steady_clock::time_point now() const override {
    std::lock_guard lock(mutex_);
    return start_ + advanced_;
  }
  void sleep_for(std::chrono::milliseconds wait) override { record(wait); }
  asio::awaitable<void> wait_for(std::chrono::milliseconds wait) override {
    record(wait);
    co_return;
  }
  std::vector<std::chrono::milliseconds> waits() const {
    std::lock_guard lock(mutex_);
    return waits_;
  }

 private:
  void record(std::chrono::milliseconds wait) {
    std::lock_guard lock(mutex_);
    waits_.push_back(wait);
    advanced_ += wait;
  }

  mutable std::mutex mutex_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::milliseconds advanced_{0};
  std::vector<std::chrono::milliseconds> waits_;
};

}  // namespace quorvel::testing
