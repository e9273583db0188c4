#pragma once
// A pattern service whose scan result, strategy signals and radar answers are set by the test; it
// records every call so a test can check what the caller asked for.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "contracts/errors.h"
#include "contracts/pattern_service.h"

namespace quorvel::testing {

struct ScanCall {
  std::string symbol, mode;
  double min_score = 0.0;
  zerith::Json options;
  std::size_t rows = 0;
};

struct RadarCall {
  std::string symbol, name;
  zerith::RadarThresholds thresholds;
  std::size_t rows = 0;                    // bars of the item, or of every pool entry together
  std::vector<std::string> pool_codes;     // pool calls only
};

class ScriptedPatternService : public zerith::PatternService {
 public:
  zerith::Json scan = zerith::Json::object();  // answer of every pre_screen_and_scan
  std::map<zerith::StrategyEngine, zerith::SignalEvent> signals;
  std::vector<ScanCall> scans;
  std::vector<zerith::StrategyEngine> signal_calls;
  zerith::Json radar_item = zerith::Json::object();  // answer of every evaluate_opportunity_radar_item
  zerith::Json radar_pool = zerith::Json::object();  // answer of every analyze_opportunity_radar
  std::vector<RadarCall> radar_calls;

  zerith::Json pre_screen_and_scan(const tarnel::BarTable& df, const std::string& symbol, const std::string& mode,
                                   double min_score, const zerith::Json& options) override {
    scans.push_back({symbol, mode, min_score, options, df.rows()});
    return scan;
  }
  zerith::SignalEvent get_strategy_signal(zerith::StrategyEngine engine, const tarnel::BarTable&,
                                          const std::string&) override {
    signal_calls.push_back(engine);
    const auto it = signals.find(engine);
    return it != signals.end() ? it->second : zerith::SignalEvent{};
  }
  zerith::Json evaluate_opportunity_radar_item(const tarnel::BarTable& df, const std::string& symbol,
                                               const std::string& name,
                                               const zerith::RadarThresholds& thresholds) override {
    radar_calls.push_back({symbol, name, thresholds, df.rows(), {}});
    return radar_item;
  }
  zerith::Json analyze_opportunity_radar(const zerith::RadarPool& pool,
                                         const zerith::RadarThresholds& thresholds) override {
    RadarCall call{"", "", thresholds, 0, {}};
    for (const auto& [code, entry] : pool) {
      call.pool_codes.push_back(code);
      call.rows += entry.second.rows();
    }
    radar_calls.push_back(std::move(call));
    return radar_pool;
  }
};

}  // namespace quorvel::testing
