#pragma once
// Runs coroutines to completion on a fresh event loop, as a command's main does.
#include <exception>
#include <optional>
#include <utility>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

namespace quorvel::testing {

template <class T>
T run_sync(asio::awaitable<T> work) {
  asio::io_context loop;
  std::optional<T> result;
  std::exception_ptr failure;
  asio::co_spawn(loop, std::move(work), [&](std::exception_ptr e, T value) {
    failure = e;
    if (!e) result = std::move(value);
  });
  loop.run();
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

}  // namespace quorvel::testing
