#include "quorvel/agent/core/provider_gate.h"

#include <algorithm>
#include <map>
#include <utility>

#include <asio/async_result.hpp>
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>

#include "contracts/retry_timer.h"
#include "quorvel/agent/core/provider_config.h"
#include "quorvel/utils/blocking.h"

namespace quorvel::agent::core {

using std::chrono::milliseconds;

ProviderGate::ProviderGate(int limit) : limit_(std::max(limit, 1)) {}

ProviderGate::~ProviderGate() = default;

ProviderGate::Permit& ProviderGate::Permit::operator=(Permit&& o) noexcept {
  if (this != &o) {
    release();
    gate_ = o.gate_;
    o.gate_ = nullptr;
  }
  return *this;
}

void ProviderGate::Permit::release() {
  if (gate_) std::exchange(gate_, nullptr)->release_slot();
}

asio::awaitable<void> ProviderGate::acquire_slot() {
  return asio::async_initiate<const asio::use_awaitable_t<>&, void()>(
      [this](auto handler) {
        auto home = tracked_home(handler);
        auto resume = [h = std::make_shared<decltype(handler)>(std::move(handler)), home]() mutable {
          asio::post(home, [h]() mutable { std::move (*h)(); });
        };
        std::unique_lock lock(mutex_);
        if (in_flight_ < limit_) {
          ++in_flight_;
          lock.unlock();
          resume();
          return;
        }
        waiters_.push_back(std::move(resume));
      },
      asio::use_awaitable);
}

void ProviderGate::release_slot() {
  std::function<void()> next;
  {
    std::lock_guard lock(mutex_);
    if (waiters_.empty()) {
      --in_flight_;
      return;
    }
    next = std::move(waiters_.front());  // the slot passes straight to the first waiter
    waiters_.pop_front();
  }
  next();
}

asio::awaitable<ProviderGate::Permit> ProviderGate::enter() {
  for (;;) {
    if (const milliseconds wait = pause_left(); wait > milliseconds(0)) {
      auto pause = retry_timer().wait_for(wait);
      co_await std::move(pause);
      continue;
    }
    auto slot = acquire_slot();
    co_await std::move(slot);
    Permit permit(this);
    // A pause that began while this request waited for its slot applies to it too.
    if (pause_left() > milliseconds(0)) continue;
    co_return std::move(permit);
  }
}

void ProviderGate::pause_for(milliseconds wait) {
  const auto until = retry_timer().now() + wait;
  std::lock_guard lock(mutex_);
  paused_until_ = std::max(paused_until_, until);
}

milliseconds ProviderGate::pause_left() const {
  const auto now = retry_timer().now();
  std::lock_guard lock(mutex_);
  if (paused_until_ <= now) return milliseconds(0);
  // Rounded up, so a wait never ends a fraction of a millisecond early.
  return std::chrono::ceil<milliseconds>(paused_until_ - now);
}

int ProviderGate::in_flight() const {
  std::lock_guard lock(mutex_);
  return in_flight_;
}

std::size_t ProviderGate::waiting() const {
  std::lock_guard lock(mutex_);
  return waiters_.size();
}

asio::thread_pool& ProviderGate::transport_pool() {
  std::lock_guard lock(mutex_);
  if (!pool_) pool_ = std::make_unique<asio::thread_pool>(static_cast<std::size_t>(limit_));
  return *pool_;
}

ProviderGate& provider_gate(const ProviderConfig& config) {
  static std::mutex mutex;
  // Never shrinks: a process talks to a handful of providers.
  static std::map<std::string, std::unique_ptr<ProviderGate>> gates;
  std::lock_guard lock(mutex);
  auto& gate = gates[config.type + "|" + config.base_url];
  if (!gate) gate = std::make_unique<ProviderGate>(config.max_in_flight);
  return *gate;
}

}  // namespace quorvel::agent::core
