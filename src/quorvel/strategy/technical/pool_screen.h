#pragma once
// Screens a pool of instruments with one technical selector, spread over worker threads. One
// instrument that fails is recorded with its error and skipped; the others go on. Only the facts a
// trader reads are kept per instrument (no bar tables), so a market of thousands fits in memory.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quorvel/strategy/base/selector_base.h"

namespace quorvel::strategy::technical {

struct ScreenOutcome {
  std::string code;
  std::string name;
  bool screened = false;            // the selector ran to the end
  bool no_data = false;             // no bars in the range
  bool eligible = false;
  double score = 0.0;
  std::string strategy_type;
  std::string strategy_hint;
  std::string urgency;
  std::vector<std::string> risk_flags;
  double price = 0.0;               // last close, quote currency
  std::string as_of;                // date of the last bar screened ("" without bars)
  bool stale = false;               // the last bar lags the screen's day too far to list it (set by the caller)
  std::string error;                // why the instrument could not be screened
};

struct ScreenProgress {
  std::size_t done = 0, total = 0, failed = 0, eligible = 0;
};

struct ScreenRequest {
  std::vector<std::string> codes;
  std::string start_date, end_date;
  int threads = 0;  // 0: one per core
  // The selector of the screen; one instance serves all worker threads (selectors are stateless).
  std::function<std::unique_ptr<StockSelector>()> make_selector;
  // Extra options handed to every check.
  nlohmann::ordered_json options = nlohmann::ordered_json::object();
  // Called from a worker thread after each instrument (keep it cheap; calls never overlap).
  std::function<void(const ScreenProgress&)> on_progress;
};

// Outcomes in the order of `codes`.
std::vector<ScreenOutcome> screen_pool(const ScreenRequest& request);

// "all", "brp", "tf" or "combined" -> a factory of that selector; a ValueError for any other name.
std::function<std::unique_ptr<StockSelector>()> selector_factory(const std::string& name);

}  // namespace quorvel::strategy::technical
