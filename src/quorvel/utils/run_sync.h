#pragma once
// Drives coroutines to completion on an event loop of the calling thread: what a command's main and a
// test do with their top-level coroutine. Returns the result or rethrows the coroutine's error once
// the loop has no work left (so work the coroutine spawned on the loop has ended too).
#include <exception>
#include <optional>
#include <utility>

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

namespace quorvel {

// On `loop`, which may carry other work of the caller (signal sets, timers, spawned coroutines).
template <class T>
T run_sync(asio::io_context& loop, asio::awaitable<T> task) {
  std::optional<T> result;
  std::exception_ptr failure;
  asio::co_spawn(loop, std::move(task), [&](std::exception_ptr e, T value) {
    if (e) {
      failure = e;
    } else {
      result = std::move(value);
    }
  });
  loop.run();
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

inline void run_sync(asio::io_context& loop, asio::awaitable<void> task) {
  std::exception_ptr failure;
  asio::co_spawn(loop, std::move(task), [&](std::exception_ptr e) { failure = e; });
  loop.run();
  if (failure) std::rethrow_exception(failure);
}

// On a fresh loop.
template <class T>
T run_sync(asio::awaitable<T> task) {
  asio::io_context loop;
  return run_sync(loop, std::move(task));
}

inline void run_sync(asio::awaitable<void> task) {
  asio::io_context loop;
  run_sync(loop, std::move(task));
}

}  // namespace quorvel
