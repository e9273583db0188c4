#pragma once
// The opportunity radar selector: screens one instrument on the pattern service's radar evaluation
// (flags, states, volume ratio, change) with a fixed rule chain, a solid-bear-candle test on the
// last bar, allow/reject switches and a minimum technical score; `analyze_pool` hands a whole pool
// to the pattern service, which sorts it into 量化异动 / 潜在机会 / 风险提示.
//
// The configuration is fixed at construction; `check` keeps no state, so one instance may check
// any number of instruments, also from several threads at once.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/pattern_service.h"
#include "quorvel/strategy/base/selector_base.h"

namespace quorvel::strategy::radar {

// Strategy-type texts of the radar.
inline constexpr const char* RADAR_FALLBACK_TYPE = "机会雷达";
inline constexpr const char* RADAR_ANOMALY_TYPE = "量化异动";
inline constexpr const char* RADAR_NO_DATA_TAG = "雷达观望";
// The one evaluation state the rules test.
inline constexpr const char* LEFT_SIDE_DECLINE = "左侧下跌";

// The constructor's parameters, with their defaults.
struct RadarConfig {
  std::optional<std::string> frequency = std::nullopt;    // "daily" / "weekly"; absent or empty: by weekday
  double min_score = 0.0;                                 // minimum technical score
  std::optional<double> min_amount_ea = std::nullopt;     // minimum traded amount, quote currency
  double min_vol_ratio = 1.5;                             // x the mean volume of the previous bars
  double min_pct_change = 1.5;                            // percent
  std::optional<std::string> weekly_mode = std::nullopt;  // weekly-mode option of the pattern service
  bool allow_opportunity = true;                          // an opportunity makes a candidate
  bool allow_abnormal = true;                             // a volume anomaly on a non-falling bar: a candidate
  bool reject_risk = true;                                // a risk flag or a sell signal rejects
  bool reject_bearish = true;                             // a bearish last bar rejects
};

// Arguments of analyze_pool besides the pool. An absent or empty frequency follows the weekday of
// target_date, else of the newest bar in the pool, else of today.
struct PoolOptions {
  std::optional<std::string> frequency = std::nullopt;
  std::optional<double> min_amount_ea = std::nullopt;
  double min_vol_ratio = 1.5;
  double min_pct_change = 1.5;
  std::optional<std::string> weekly_mode = std::nullopt;
  std::optional<std::string> target_date = std::nullopt;
};

class OpportunityRadarSelector : public StockSelector {
 public:
  // Logs "OpportunityRadarSelector 初始化完成 (frequency=..., min_score=..., reject_bearish=...)".
  explicit OpportunityRadarSelector(const RadarConfig& config = {});

  // Extra options read (each overrides the field of the same name for this call; null counts as
  // not given): "frequency", "min_amount_ea", "min_vol_ratio", "min_pct_change", "weekly_mode",
  // "min_score", and "name" (display name for the pattern service). Others are ignored.
  SelectorCheckResult check(const std::string& code, const std::string& start_date, const std::string& end_date,
                            const nlohmann::ordered_json& options = nlohmann::ordered_json::object()) override;

  // The pattern service's three sections for the pool, unchanged.
  static nlohmann::ordered_json analyze_pool(const zerith::RadarPool& pool, const PoolOptions& options = {});

  std::optional<std::string> frequency;
  double min_score;
  std::optional<double> min_amount_ea;
  double min_vol_ratio;
  double min_pct_change;
  std::optional<std::string> weekly_mode;
  bool allow_opportunity;
  bool allow_abnormal;
  bool reject_risk;
  bool reject_bearish;
};

using RadarSelector = OpportunityRadarSelector;

}  // namespace quorvel::strategy::radar
