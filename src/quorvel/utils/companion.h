#pragma once
// Runs a companion coroutine (a renewal loop, a heartbeat) for exactly as long as a piece of work:
// when the work ends, by returning or by throwing, the companion is cancelled and awaited, and the
// work's outcome is handed on. (The `||` operator of asio's awaitable operators waits for one
// *successful* completion, so a failing work would wait forever for a companion that never ends.)
//
// The companion must run until it is cancelled; one that ends by itself cancels the work.
#include <exception>

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/experimental/cancellation_condition.hpp>
#include <asio/experimental/deferred.hpp>
#include <asio/experimental/parallel_group.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

namespace quorvel {

inline asio::awaitable<void> with_companion(asio::awaitable<void> work, asio::awaitable<void> companion) {
  auto executor = co_await asio::this_coro::executor;
  auto group = asio::experimental::make_parallel_group(asio::co_spawn(executor, std::move(work), asio::experimental::deferred),
                                                       asio::co_spawn(executor, std::move(companion), asio::experimental::deferred));
  auto both = group.async_wait(asio::experimental::wait_for_one(), asio::use_awaitable);
  auto [order, work_failure, companion_end] = co_await std::move(both);
  if (work_failure) std::rethrow_exception(work_failure);
}

}  // namespace quorvel
