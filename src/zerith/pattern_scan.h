#pragma once
// The pre-screen and pattern scan of one instrument: a pure function of its daily bars and of the
// market facts the caller supplies (index context, the day's universe rank). Deterministic and
// thread-safe.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"
#include "zerith/index_context.h"
#include "zerith/scan_series.h"

namespace zerith {

struct UniverseRank {
  int rank = 0;  // 1 = best total score among the day's survivors
  int size = 0;  // survivors of the day's screen of the market
};

struct ScanRequest {
  std::string symbol;
  std::string mode = "all";  // "all" scores every setup, "trend" the trend-following one only
  double min_score = 3.0;
  nlohmann::ordered_json options = nlohmann::ordered_json::object();  // echoed in the result
  std::optional<IndexContext> index;   // absent: no index bars for the market
  std::string index_reason;            // why the index context is absent
  std::optional<UniverseRank> universe;
  std::string universe_reason;         // why the rank is absent
};

nlohmann::ordered_json scan_bars(const tarnel::BarTable& df, const ScanRequest& request);
// The same scan on series already computed from the bars (callers that read the series themselves).
nlohmann::ordered_json scan_series(const ScanSeries& series, const ScanRequest& request);

}  // namespace zerith
