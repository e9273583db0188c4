#pragma once
// The market briefs of a watchlist run: one per market and trading day, fetched once however many
// instruments wait for it. A failure is kept as well, so every instrument of that market and day
// reports it instead of asking the LLM again. Funds share the A-share brief, as they do in the
// brief service itself.
//
// Not thread-safe: use it from the thread of the event loop that runs the batch.
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>

#include "quorvel/agent/solvara/async_mutex.h"

namespace quorvel::batch {

class BriefBoard {
 public:
  // The brief of the market ("A", "HK", "US", "ETF") and day; a RuntimeError with the brief
  // service's reason when there is none.
  asio::awaitable<std::string> get(std::string market_type, std::string date);

  // Starts fetching the brief on `executor` without waiting for it.
  void prefetch(const asio::any_io_executor& executor, const std::string& market_type, const std::string& date);

  // Market-days whose brief was asked of the brief service (once each).
  std::size_t requested() const { return requested_; }

 private:
  struct Entry {
    agent::solvara::AsyncMutex mutex;
    std::optional<std::string> text;
    std::optional<std::string> error;
  };

  std::map<std::pair<std::string, std::string>, std::unique_ptr<Entry>> entries_;
  std::size_t requested_ = 0;
};

}  // namespace quorvel::batch
