#pragma once
// The instrument-days a run is analysing, claimed in the report store so that no other run (another
// process, or a machine sharing the store) pays for the same analysis at the same time. A run takes
// the claim before it looks for a stored result and analyses, renews all its claims on a timer
// while it works, and frees each one when the analysis is stored or has failed. A run that dies
// stops renewing, and its claims run out with their lease.
//
// Not thread-safe: use one object from the coroutines of one event loop.
#include <chrono>
#include <string>
#include <vector>

#include <asio/awaitable.hpp>

#include "contracts/report_store.h"

namespace quorvel {

class AnalysisClaims {
 public:
  // A claim lasts this long unless renewed; renewals come every third of it.
  static constexpr std::chrono::milliseconds LEASE{30000};
  // How often a run waiting for another run's claim looks again.
  static constexpr std::chrono::milliseconds POLL{500};

  AnalysisClaims();

  // Takes the claim on `key` if no other run holds it; false when one does.
  asio::awaitable<bool> try_take(report::AnalysisKey key);
  struct Taken {
    bool held = false;    // this run holds the claim now
    bool waited = false;  // another run held it first, and may have stored the analysis meanwhile
  };
  // Takes the claim on `key`, waiting while another run holds it (said once on the console, as a
  // dead run's claim keeps it waiting up to a lease). Gives up, not holding it, once `*stop` is
  // set.
  asio::awaitable<Taken> take(report::AnalysisKey key, const bool* stop = nullptr);
  // Frees the claim on `key`; a failure is logged (the claim then runs out with its lease).
  asio::awaitable<void> release(report::AnalysisKey key);

  // Frees every held claim now, blocking on the report store (a process about to end at once).
  void release_all_now() noexcept;

  // Renews every held claim each third of the lease; runs until cancelled, so await it together
  // with the run's work (`with_companion(work, claims.keep_renewed())`, utils/companion.h).
  asio::awaitable<void> keep_renewed();

  const std::string& owner() const { return owner_; }

 private:
  std::string owner_;  // "<pid>/<random id>": unique to this run
  std::vector<report::AnalysisKey> held_;
};

}  // namespace quorvel
