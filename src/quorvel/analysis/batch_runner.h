#pragma once
// A watchlist run: the single-instrument analysis for every code of a list, `concurrency` of them at
// a time, driven from one event loop. The LLM waits overlap; the CPU and disk work (bars, status and
// screen, then the AI selector's context, decision and storage) runs on the worker pool, and each
// worker prepares its next instrument while the model answers about the current one. The LLM
// requests of all analyses share their provider's gate (requests in flight, 429 pauses).
//
// Before any analysis starts, one pass on the worker pool settles each instrument's trading day and
// market, skips what is already stored (unless forced) and fails the codes no market knows; the
// market briefs the remaining instruments need are then requested at once, one per market and day
// (batch_briefs.h). An instrument that fails is recorded with its reason and the run goes on; a
// model that cannot be used at all (no API key) fails every instrument left with one error.
//
// Each instrument-day is claimed in the report store before it is analysed (analysis_claims.h).
// One that another run is analysing is put back and taken up at the end: the run then waits for
// the other run's claim and shows what it stored (or analyses it itself if the other run died
// without storing it). So two runs over one watchlist pay for each analysis once.
//
// Not thread-safe: construct, run and read it on the event loop's thread.
#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "quorvel/analysis/analysis_claims.h"
#include "quorvel/analysis/batch_briefs.h"
#include "quorvel/analysis/batch_report.h"

namespace quorvel::batch {

// Analyses at once unless --concurrency says otherwise: the LLM waits of a few analyses overlap
// while staying far below any provider's limit.
inline constexpr int DEFAULT_CONCURRENCY = 4;

struct BatchOptions {
  std::vector<std::string> codes;  // in watchlist order; a repeated code is analysed once, at its first place
  std::string date;                // requested day "YYYY-MM-DD", checked: not malformed, not in the future
  int concurrency = DEFAULT_CONCURRENCY;
  bool force = false;              // analyse again what is already stored
  std::string llm_client_type;     // lower case; keys the stored-analysis check, like the single command
};

class BatchRun {
 public:
  // `briefs`: a board shared with other runs of this event loop (a queue worker runs one per item
  // and fetches each market-day's brief once for all of them); it must outlive the run and every
  // brief fetch it starts. Null: the run's own board.
  explicit BatchRun(BatchOptions options, BriefBoard* briefs = nullptr);

  // Called as each instrument ends, with its place in the order of ending (1 = first).
  std::function<void(const Outcome&, std::size_t position)> on_outcome;
  // Throws when the model cannot be used (a missing API key). Called once, when the first pass
  // leaves something to analyse; empty: not checked.
  std::function<void()> check_model;

  asio::awaitable<void> run();

  // No analysis starts after this; the ones under way finish.
  void request_stop() { stop_ = true; }
  bool stop_requested() const { return stop_; }
  // Marks the analyses under way as interrupted and frees their claims at once (the process is
  // about to end without them). Blocks briefly on the report store.
  void abandon();

  // One per code, in watchlist order (empty until the first pass is done).
  const std::vector<Outcome>& outcomes() const { return outcomes_; }
  std::size_t briefs_requested() const { return board().requested(); }

 private:
  struct Prepared;

  // False, after one error in the log, when check_model throws: every instrument left to analyse
  // is then failed with a short reason that points at that error.
  bool model_usable();
  asio::awaitable<void> run_workers();
  asio::awaitable<void> worker();
  report::AnalysisKey key(const Outcome& outcome) const;
  // The next instrument a worker must analyse, claimed for this run, or null when there is none or
  // the run is stopping. Instruments that turn out stored on the way are finished here.
  asio::awaitable<Outcome*> claim_next();
  // With the claim held: the analysis another run stored, if any, finishes the outcome.
  asio::awaitable<bool> finished_elsewhere(Outcome& outcome, bool waited);
  // Bars, status and screen of `outcome` (null: nothing to prepare). Never throws.
  asio::awaitable<Prepared> prepare(Outcome* outcome);
  // The next instrument, claimed and prepared.
  asio::awaitable<Prepared> prepare_next();
  // Brief, LLM analysis, decision; then frees the claim and reports the outcome. Never throws: a
  // failure is recorded in the outcome.
  asio::awaitable<void> analyse(Prepared prepared);
  asio::awaitable<void> analyse_steps(Prepared& prepared);
  void prefetch_briefs(const asio::any_io_executor& executor);
  void finish(const Outcome& outcome);
  BriefBoard& board() { return shared_briefs_ ? *shared_briefs_ : briefs_; }
  const BriefBoard& board() const { return shared_briefs_ ? *shared_briefs_ : briefs_; }

  BatchOptions options_;
  std::vector<Outcome> outcomes_;
  BriefBoard briefs_;
  BriefBoard* shared_briefs_ = nullptr;
  AnalysisClaims claims_;
  std::deque<Outcome*> deferred_;  // claimed by another run when first met
  std::size_t next_ = 0;      // next outcome a worker looks at
  std::size_t finished_ = 0;  // outcomes reported through on_outcome
  bool stop_ = false;
};

// The first pass for one code (blocking: store and calendar reads): trading day, name and market,
// and, unless `force`, the stored analysis of an earlier run. Never throws: a code that cannot be
// analysed comes back failed with the reason.
Outcome plan_instrument(const std::string& code, const BatchOptions& options);

// The first pass for every code of `options`, in order, on the worker pool.
asio::awaitable<std::vector<Outcome>> plan_instruments(const BatchOptions& options);

}  // namespace quorvel::batch
