#pragma once
// pelion-batch --queue: a watchlist run whose analyses are done by pelion-worker processes. The
// first pass (trading day, market, what is stored already) runs here as in a local run; the
// instruments it leaves are put on the work queue as one job, and their results are read back from
// the job's results stream as the workers post them. Ends when every instrument has a result, or at
// once on Ctrl-C: what no worker has taken is then withdrawn, the rest is shown as interrupted.
// The queue's troubles while following are waited out (the workers go on meanwhile).
//
// Not thread-safe: construct, run and read it on one thread.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "quorvel/agent/core/usage_ledger.h"
#include "quorvel/analysis/batch_report.h"
#include "quorvel/analysis/batch_runner.h"
#include "quorvel/commands/pelion-batch/batch_console.h"
#include "quorvel/report/redis_connection.h"
#include "quorvel/report/redis_group_reader.h"

namespace quorvel::batch {

class QueuedJob {
 public:
  // `options.concurrency` is not used: the workers' own settings say how many they analyse at once.
  QueuedJob(report::RedisEndpoint endpoint, BatchOptions options, Console& console, Clock::time_point start);

  // Runs the job on an event loop of its own, with Ctrl-C (SIGINT, SIGTERM) watched. Throws when the
  // job cannot be put on the queue (nothing of it is left there then).
  void run();

  // One per code, in watchlist order; the ones without a result are interrupted after a Ctrl-C.
  const std::vector<Outcome>& outcomes() const { return outcomes_; }
  // What the workers reported spending on this job's items.
  const agent::core::UsageTotals& usage() const { return usage_; }
  bool interrupted() const { return interrupted_; }
  const std::string& job() const { return job_; }

 private:
  asio::awaitable<void> work();
  // Puts the items `items` (indices of outcomes_) on the work stream.
  asio::awaitable<void> submit(std::vector<std::size_t> items);
  asio::awaitable<void> follow();
  // Takes one posted result; false when it is not one of this job's (logged).
  bool take(const report::StreamEntry& entry);
  // Puts back the entries of items without a result that are no longer in the work stream (a broker
  // restarted without its data); blocking. Their number.
  std::size_t requeue_lost();
  // Adds the entry of item `index` to the work stream; blocking.
  void queue_item(std::size_t index);
  // Removes the job's entries from the work stream and lets its results stream expire (blocking).
  void clean_up() noexcept;
  void report(const Outcome& o);

  report::RedisClient client_;
  BatchOptions options_;
  Console& console_;
  Clock::time_point start_;
  std::string job_;
  std::vector<Outcome> outcomes_;
  std::string stream_;                          // the work stream of the job's LLM client type
  std::map<std::size_t, std::string> entries_;  // item index -> its entry in the work stream
  std::size_t waiting_ = 0;                     // queued, no result yet
  std::size_t finished_ = 0;                    // outcomes reported on the console
  std::size_t duplicates_ = 0;                  // results for items that already had one
  agent::core::UsageTotals usage_;
  bool interrupted_ = false;
  bool received_ = false;  // a result of this job arrived
};

}  // namespace quorvel::batch
