#include "contracts/retry_timer.h"

#include <thread>

#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace quorvel {

RetryTimer& RetryTimer::default_instance() {
  static SteadyRetryTimer timer;
  return timer;
}

std::chrono::steady_clock::time_point SteadyRetryTimer::now() const { return std::chrono::steady_clock::now(); }

void SteadyRetryTimer::sleep_for(std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); }

asio::awaitable<void> SteadyRetryTimer::wait_for(std::chrono::milliseconds wait) {
  asio::steady_timer timer(co_await asio::this_coro::executor, wait);
  co_await timer.async_wait(asio::use_awaitable);
}

}  // namespace quorvel
