#pragma once
// Standard error of a watchlist run, local or queued: a line per instrument and, on a terminal, a
// progress line kept at the bottom and redrawn twice a second.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>

#include <asio/awaitable.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "quorvel/analysis/batch_report.h"
#include "quorvel/utils/logger.h"

namespace quorvel::batch {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class Console {
 public:
  explicit Console(bool verbose) : verbose_(verbose), tty_(isatty(STDERR_FILENO) != 0) {}

  void outcome(const Outcome& o, std::size_t position, std::size_t total) {
    const std::string line = outcome_line(o, position, total);
    logger.info(line);
    if (verbose_) return;  // the console log already shows it
    clear();
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  void progress(const Counts& counts, double elapsed) {
    if (!tty_ || counts.total == 0) return;
    std::fprintf(stderr, "\r\033[K%s", progress_line(counts, elapsed).c_str());
    std::fflush(stderr);
    drawn_ = true;
  }
  void clear() {
    if (drawn_) std::fprintf(stderr, "\r\033[K");
    drawn_ = false;
  }

 private:
  bool verbose_, tty_, drawn_ = false;
};

// Redraws the progress line of `counts()` twice a second until `finished`.
inline asio::awaitable<void> show_progress(asio::steady_timer& ticker, const bool& finished, Console& console,
                                           std::function<Counts()> counts, Clock::time_point start) {
  while (!finished) {
    console.progress(counts(), seconds_since(start));
    ticker.expires_after(std::chrono::milliseconds(500));
    co_await ticker.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
  }
}

}  // namespace quorvel::batch
