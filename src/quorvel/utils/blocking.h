#pragma once
// Blocking work (SQLite reads, HTTP calls, computations over many bars) leaves the event loop through
// one helper: the calling coroutine suspends, `fn` runs on the shared worker pool, and the coroutine
// resumes on its own executor with the result or the exception.
//
// run_blocking is deliberately not a coroutine itself: the work is handed over through an ordinary
// asynchronous operation, so no coroutine frame ever owns a copy of `fn`.
//
// House rule for coroutines (g++ 12 mishandles non-trivial temporaries that live across a
// suspension point, e.g. a lambda or std::string argument inside a co_await expression): create the
// awaitable in its own statement, then await it by name:
//   auto fetch = run_blocking([code] { return load(code); });
//   const auto bars = co_await std::move(fetch);
#include <exception>
#include <type_traits>
#include <utility>

#include <asio/associated_executor.hpp>
#include <asio/async_result.hpp>
#include <asio/awaitable.hpp>
#include <asio/execution/outstanding_work.hpp>
#include <asio/post.hpp>
#include <asio/prefer.hpp>
#include <asio/thread_pool.hpp>
#include <asio/use_awaitable.hpp>

namespace quorvel {

// The process-wide worker pool, created on first use. Thread-safe.
asio::thread_pool& worker_pool();

// The awaiting coroutine's executor, counting as outstanding work while the copy lives: its event
// loop cannot finish (and be destroyed) while a worker is still handing a result back to it.
template <class Handler>
auto tracked_home(const Handler& handler) {
  return asio::prefer(asio::get_associated_executor(handler), asio::execution::outstanding_work.tracked);
}

// Runs `fn` on `pool` instead of the shared pool (tests and callers with a pool of their own).
template <class F>
auto run_blocking(asio::thread_pool& pool, F fn) {
  using R = std::invoke_result_t<F&>;
  if constexpr (std::is_void_v<R>) {
    return asio::async_initiate<const asio::use_awaitable_t<>&, void(std::exception_ptr)>(
        [pool = &pool](auto handler, F work) {
          auto home = tracked_home(handler);
          asio::post(*pool, [handler = std::move(handler), work = std::move(work), home]() mutable {
            std::exception_ptr failure;
            try {
              work();
            } catch (...) {
              failure = std::current_exception();
            }
            asio::post(home, [handler = std::move(handler), failure]() mutable { std::move(handler)(failure); });
          });
        },
        asio::use_awaitable, std::move(fn));
  } else {
    static_assert(std::is_default_constructible_v<R>, "run_blocking needs a default-constructible result");
    return asio::async_initiate<const asio::use_awaitable_t<>&, void(std::exception_ptr, R)>(
        [pool = &pool](auto handler, F work) {
          auto home = tracked_home(handler);
          asio::post(*pool, [handler = std::move(handler), work = std::move(work), home]() mutable {
            std::exception_ptr failure;
            R result{};
            try {
              result = work();
            } catch (...) {
              failure = std::current_exception();
            }
            asio::post(home, [handler = std::move(handler), failure, result = std::move(result)]() mutable {
              std::move(handler)(failure, std::move(result));
            });
          });
        },
        asio::use_awaitable, std::move(fn));
  }
}

template <class F>
auto run_blocking(F fn) {
  return run_blocking(worker_pool(), std::move(fn));
}

}  // namespace quorvel
