#pragma once
// Bringing a pool of instruments up to date: one fill per code over [first, last] on a few worker
// threads (the per-host rate limit, not the workers, sets the pace), with a progress callback and a
// summary of bars added and instruments failed.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tarnel/online/bar_fill.h"

namespace tarnel::online {

// Requests in flight at once: enough to overlap each request's network latency with the next
// one's rate-limit wait.
inline constexpr int UPDATE_WORKERS = 4;

struct UpdateResult {
  std::string code;
  FillOutcome outcome;  // failed with `detail` also for a malformed code or a store error
};

struct UpdateSummary {
  std::size_t instruments = 0, filled = 0, up_to_date = 0, bars_added = 0;
  std::vector<UpdateResult> failures;  // in pool order
};

// Called after each instrument, from the worker that handled it, one call at a time.
using UpdateProgress = std::function<void(std::size_t done, std::size_t total, const UpdateResult& result)>;

UpdateSummary update_pool(BarFiller& filler, const std::vector<std::string>& codes, Date first, Date last,
                          const UpdateProgress& progress, int workers = UPDATE_WORKERS);

}  // namespace tarnel::online
