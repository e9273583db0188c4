#pragma once
// A mutex for coroutines of one event-loop thread: `co_await lock()` suspends until the mutex is free
// and yields a guard that releases it (waking the next waiter) when destroyed. Not thread-safe: use
// it only from the thread that runs the event loop.
#include <deque>
#include <functional>

#include <asio/any_io_executor.hpp>
#include <asio/async_result.hpp>
#include <asio/awaitable.hpp>
#include <asio/post.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace quorvel::agent::solvara {

class AsyncMutex {
 public:
  class Guard {
   public:
    explicit Guard(AsyncMutex* m) : m_(m) {}
    Guard(Guard&& o) noexcept : m_(o.m_) { o.m_ = nullptr; }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Guard& operator=(Guard&&) = delete;
    ~Guard() {
      if (m_) m_->unlock();
    }

   private:
    AsyncMutex* m_;
  };

  asio::awaitable<Guard> lock() {
    if (!locked_) {
      locked_ = true;
      co_return Guard(this);
    }
    auto executor = co_await asio::this_coro::executor;
    co_await asio::async_initiate<decltype(asio::use_awaitable), void()>(
        [this, executor](auto handler) mutable {
          waiters_.push_back([h = std::make_shared<decltype(handler)>(std::move(handler)), executor]() mutable {
            asio::post(executor, [h]() mutable { std::move (*h)(); });
          });
        },
        asio::use_awaitable);
    co_return Guard(this);  // ownership was handed over by unlock()
  }

  bool locked() const { return locked_; }

 private:
  void unlock() {
    if (waiters_.empty()) {
      locked_ = false;
      return;
    }
    auto next = std::move(waiters_.front());
    waiters_.pop_front();
    next();  // stays locked: the next waiter now owns it
  }

  bool locked_ = false;
  std::deque<std::function<void()>> waiters_;
};

}  // namespace quorvel::agent::solvara
