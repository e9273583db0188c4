#pragma once
// Tuning constants of the selectors and the position constraints. The Parts read them at every call,
// so a test may install a changed table with a Service guard.
#include <map>
#include <string>

#include "contracts/service.h"

namespace quorvel::constants {

struct RegimeParams {
  double min_rrr = 0.0;            // minimum reward/risk ratio of an entry
  double max_stop_dist_atr = 0.0;  // farthest stop, in ATR multiples
  std::string regime;              // 强势档 / 中性档 / 弱势档
};

struct TuningConstants {
  static constexpr const char* kServiceName = "tuning constants (quorvel.constants)";
  static TuningConstants& default_instance();

  std::map<std::string, double> STRATEGY_THRESHOLDS;  // strategy type -> minimum total score
  double DEFAULT_STRATEGY_THRESHOLD = 0.0;
  std::map<std::string, RegimeParams> REGIME_PARAMS;                   // bias -> parameters; must hold "偏空"
  std::map<std::string, std::map<std::string, double>> POSITION_CAPS;  // "bottom"/"default" -> regime -> percent
  double POSITION_CAP_FALLBACK = 0.0;                                  // percent
  double VOLUME_RATIO_FULL = 0.0;
  double VOLUME_RATIO_PARTIAL = 0.0;
  std::map<std::string, double> MARKET_ENV_SCORES;  // bias -> credit
  double CONFLUENCE_FULL = 0.0;
  double CONFLUENCE_PARTIAL = 0.0;
};

inline const TuningConstants& tuning() { return Service<TuningConstants>::current(); }

}  // namespace quorvel::constants
