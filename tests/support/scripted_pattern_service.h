#pragma once
// A pattern service whose scan result and strategy signals are set by the test; it records every
// call so a test can check what the caller asked for.
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

class ScriptedPatternService : public zerith::PatternService {
 public:
  zerith::Json scan = zerith::Json::object();  // answer of every pre_screen_and_scan
  std::map<zerith::StrategyEngine, zerith::SignalEvent> signals;
  std::vector<ScanCall> scans;
  std::vector<zerith::StrategyEngine> signal_calls;

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
  zerith::Json evaluate_opportunity_radar_item(const tarnel::BarTable&, const std::string&, const std::string&,
                                               const zerith::RadarThresholds&) override {
    throw RuntimeError("scripted pattern service: no radar");
  }
  zerith::Json analyze_opportunity_radar(const zerith::RadarPool&, const zerith::RadarThresholds&) override {
    throw RuntimeError("scripted pattern service: no radar");
  }
};

}  // namespace quorvel::testing
