#pragma once
// `quorvel-ledger update`: scores every stored plan whose result is not stored yet on the bars the
// market-data service holds (filled online where a provider is configured), and stores the final
// results beside their analyses (each published once). Plans whose sessions have not all happened
// yet stay pending and are scored by a later update. Each instrument's bars are read once.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "quorvel/report/sql_report_store.h"

namespace quorvel::ledger {

struct UpdateCounts {
  std::size_t plans = 0;         // plans without a stored result at the start
  std::size_t scored = 0;        // stored as scored
  std::size_t not_scorable = 0;  // stored as not scorable
  std::size_t pending = 0;       // left for a later update
  std::vector<std::int64_t> results;  // the analyses whose result this update stored
};

// `today` ("YYYY-MM-DD") bounds the bars read and the sessions counted. `progress` is called after
// each instrument with the plans done so far and the total.
UpdateCounts update_ledger(report::SqlReportStore& store, const report::PlanFilter& filter, const std::string& today,
                           const std::function<void(std::size_t done, std::size_t total)>& progress = {});

}  // namespace quorvel::ledger
