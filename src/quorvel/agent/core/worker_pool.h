#pragma once
// Worker threads for blocking calls (HTTP) of the agent layer, and the one way to await them from a
// coroutine: the calling coroutine suspends, `fn` runs on the pool, the coroutine resumes on its
// own executor with the result or the exception.
#include <type_traits>
#include <utility>

#include <asio/co_spawn.hpp>
#include <asio/thread_pool.hpp>
#include <asio/use_awaitable.hpp>

namespace quorvel::agent::core {

// Process-wide pool, created on first use. Thread-safe.
asio::thread_pool& llm_worker_pool();

template <class F>
asio::awaitable<std::invoke_result_t<F&>> run_blocking(asio::thread_pool& pool, F fn) {
  using R = std::invoke_result_t<F&>;
  co_return co_await asio::co_spawn(
      pool, [fn = std::move(fn)]() mutable -> asio::awaitable<R> { co_return fn(); }, asio::use_awaitable);
}

}  // namespace quorvel::agent::core
