#pragma once
// Runs coroutines to completion on a fresh event loop, as a command's main does; rethrows their error.
#include <exception>
#include <optional>
#include <utility>

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

namespace quorvel::testing {

template <class T>
T run_sync(asio::awaitable<T> task) {
  asio::io_context io;
  std::optional<T> result;
  std::exception_ptr failure;
  asio::co_spawn(io, std::move(task), [&](std::exception_ptr e, T value) {
    if (e) {
      failure = e;
    } else {
      result = std::move(value);
    }
  });
  io.run();
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

inline void run_sync(asio::awaitable<void> task) {
  asio::io_context io;
  std::exception_ptr failure;
  asio::co_spawn(io, std::move(task), [&](std::exception_ptr e) { failure = e; });
  io.run();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace quorvel::testing
