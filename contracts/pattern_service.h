#pragma once
// The pattern service (`zerith`): pre-screen and pattern scan, strategy engines and the opportunity
// radar. Every result is an insertion-ordered JSON map. The sentiment thermometer, the other part of
// the package, has its own contract (contracts/sentiment.h).
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"
#include "contracts/service.h"

namespace zerith {

using Json = nlohmann::ordered_json;

enum class StrategyEngine { ENGINE1_TREND, ENGINE2_REVERSAL, ENGINE3_KAUFMAN, US_DUAL_CORE };

// One strategy engine's judgement of the latest bar. Prices in the quote currency; NaN when unset.
struct SignalEvent {
  std::string strategy_name;
  std::string date;
  bool buy_signal = false;
  bool sell_signal = false;
  std::string signal_tier;
  std::string state;
  double stop_loss = std::numeric_limits<double>::quiet_NaN();
  double take_profit = std::numeric_limits<double>::quiet_NaN();
  std::string reason;
  Json details = Json::object();
};

// Thresholds shared by the radar operations; absent values let the service choose.
struct RadarThresholds {
  std::optional<std::string> frequency;  // "daily" or "weekly"
  std::optional<double> min_amount_ea;   // minimum traded amount, quote currency
  double min_vol_ratio = 1.5;
  double min_pct_change = 1.5;  // percent
  std::optional<std::string> weekly_mode;
};

// A pool for the radar: instrument code -> (display name, daily bars).
using RadarPool = std::map<std::string, std::pair<std::string, tarnel::BarTable>>;

class PatternService {
 public:
  static constexpr const char* kServiceName = "pattern service (zerith)";
  virtual ~PatternService() = default;

  virtual Json pre_screen_and_scan(const tarnel::BarTable& df, const std::string& symbol, const std::string& mode,
                                   double min_score, const Json& options) = 0;
  virtual SignalEvent get_strategy_signal(StrategyEngine engine, const tarnel::BarTable& df,
                                          const std::string& symbol) = 0;
  virtual Json evaluate_opportunity_radar_item(const tarnel::BarTable& df, const std::string& symbol,
                                               const std::string& name, const RadarThresholds& thresholds) = 0;
  // Three mutually exclusive lists: volume anomaly, potential opportunity, risk warning.
  virtual Json analyze_opportunity_radar(const RadarPool& etf_pool, const RadarThresholds& thresholds) = 0;
};

inline PatternService& pattern_service() { return quorvel::Service<PatternService>::current(); }

inline Json pre_screen_and_scan(const tarnel::BarTable& df, const std::string& symbol, const std::string& mode,
                                double min_score, const Json& options = Json::object()) {
  return pattern_service().pre_screen_and_scan(df, symbol, mode, min_score, options);
}
inline SignalEvent get_strategy_signal(StrategyEngine engine, const tarnel::BarTable& df, const std::string& symbol) {
  return pattern_service().get_strategy_signal(engine, df, symbol);
}

}  // namespace zerith
