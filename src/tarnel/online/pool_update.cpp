#include "tarnel/online/pool_update.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "quorvel/utils/outside_text.h"

namespace tarnel::online {

namespace {

UpdateResult update_one(BarFiller& filler, const std::string& code, Date first, Date last) {
  UpdateResult r{code, {}};
  try {
    r.outcome = filler.fill(code, first, last);
  } catch (const std::exception& e) {
    r.outcome = {FillOutcome::Status::failed, 0, "", quorvel::outside_text(e.what())};  // printed by the caller
  }
  return r;
}

}  // namespace

UpdateSummary update_pool(BarFiller& filler, const std::vector<std::string>& codes, Date first, Date last,
                          const UpdateProgress& progress, int workers) {
  std::vector<UpdateResult> results(codes.size());
  std::atomic<std::size_t> next{0};
  std::mutex report_mutex;
  std::size_t done = 0;
  const auto work = [&] {
    for (std::size_t i = next++; i < codes.size(); i = next++) {
      results[i] = update_one(filler, codes[i], first, last);
      std::lock_guard lock(report_mutex);
      ++done;
      if (progress) progress(done, codes.size(), results[i]);
    }
  };
  std::vector<std::thread> threads;
  const int n = std::clamp(workers, 1, int(std::max<std::size_t>(codes.size(), 1)));
  for (int w = 1; w < n; ++w) threads.emplace_back(work);
  work();
  for (auto& t : threads) t.join();

  UpdateSummary s;
  s.instruments = codes.size();
  for (auto& r : results) {
    s.bars_added += r.outcome.bars_added;
    switch (r.outcome.status) {
      case FillOutcome::Status::filled: ++s.filled; break;
      case FillOutcome::Status::up_to_date: ++s.up_to_date; break;
      case FillOutcome::Status::failed: s.failures.push_back(std::move(r)); break;
    }
  }
  return s;
}

}  // namespace tarnel::online
