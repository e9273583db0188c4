#pragma once
// The gate every request to one LLM provider passes through, shared by all clients of that provider
// in the process (a whole watchlist of analyses and their market briefs):
//  - at most `limit` requests are in flight at once; later ones wait in arrival order;
//  - a provider that answers 429 or sends Retry-After pauses the gate, so no client of the provider
//    sends anything before the pause ends, not only the one that was told to wait;
//  - the blocking HTTP exchanges run on the gate's own threads, one per admitted request, so the
//    general worker pool never caps the number of requests in flight.
//
// Thread-safe: clients on any event loop and thread may share a gate. A coroutine waiting for a
// slot keeps its event loop alive (outstanding work) until the slot is handed to it.
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <asio/awaitable.hpp>
#include <asio/thread_pool.hpp>

namespace quorvel::agent::core {

struct ProviderConfig;

class ProviderGate {
 public:
  // `limit` below 1 counts as 1.
  explicit ProviderGate(int limit);
  ~ProviderGate();
  ProviderGate(const ProviderGate&) = delete;
  ProviderGate& operator=(const ProviderGate&) = delete;

  // One admitted request; gives its slot to the next waiter when released or destroyed.
  class Permit {
   public:
    Permit() = default;
    explicit Permit(ProviderGate* gate) : gate_(gate) {}
    Permit(Permit&& o) noexcept : gate_(o.gate_) { o.gate_ = nullptr; }
    Permit& operator=(Permit&& o) noexcept;
    Permit(const Permit&) = delete;
    Permit& operator=(const Permit&) = delete;
    ~Permit() { release(); }
    void release();

   private:
    ProviderGate* gate_ = nullptr;
  };

  // Waits until the gate is not paused and a slot is free.
  asio::awaitable<Permit> enter();

  // No request leaves before `wait` from now has passed (an earlier, longer pause is kept).
  void pause_for(std::chrono::milliseconds wait);
  // Time left of the current pause (zero when not paused).
  std::chrono::milliseconds pause_left() const;

  int limit() const { return limit_; }
  int in_flight() const;
  std::size_t waiting() const;

  // Threads for the blocking HTTP exchanges of admitted requests (`limit` threads, created on first use).
  asio::thread_pool& transport_pool();

 private:
  // Completes when a slot is free (at once, or when a permit is released).
  asio::awaitable<void> acquire_slot();
  void release_slot();

  const int limit_;
  mutable std::mutex mutex_;
  int in_flight_ = 0;
  std::deque<std::function<void()>> waiters_;  // each hands a slot to one suspended coroutine
  std::chrono::steady_clock::time_point paused_until_{};
  std::unique_ptr<asio::thread_pool> pool_;
};

// The process-wide gate of a provider, keyed by client type and base URL. The first client of a
// provider fixes its limit (ProviderConfig::max_in_flight); the gate then lives as long as the process, so a pause outlasts the
// clients that happen to exist when it starts.
ProviderGate& provider_gate(const ProviderConfig& config);

}  // namespace quorvel::agent::core
