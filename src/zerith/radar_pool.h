#pragma once
// The opportunity radar over a pool: every instrument evaluated on worker threads, then sorted into
// three mutually exclusive sections, each best score first (ties by code):
//   风险提示  a risk flag or a sell signal (checked first: a warning is never hidden by a surge)
//   量化异动  a volume anomaly (with the risk rule before it, only the rising ones remain)
//   潜在机会  an opportunity or a buy signal
// An instrument that fails to evaluate is recorded with its error and skipped; one with too few
// bars, or with none of the flags, is counted but listed nowhere.
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/pattern_service.h"

namespace zerith {

inline constexpr const char* SECTION_VOLUME_ANOMALY = "量化异动";
inline constexpr const char* SECTION_OPPORTUNITY = "潜在机会";
inline constexpr const char* SECTION_RISK = "风险提示";

// One pool entry's evaluation map (code, display name, daily bars); see evaluate_radar_item.
using RadarEvaluator =
    std::function<nlohmann::ordered_json(const std::string& code, const std::string& name, const tarnel::BarTable&)>;

// The section of an evaluation map, or empty text when it belongs to none.
std::string radar_section(const nlohmann::ordered_json& item);

// What a trader needs to act on one flagged instrument: code, name, as_of, state, prev_state,
// strategy_type, signal (买入 / 卖出 / empty), score, vol_ratio, change_pct, amount, close, reason.
nlohmann::ordered_json radar_record(const std::string& code, const nlohmann::ordered_json& item);

// {"量化异动": [...], "潜在机会": [...], "风险提示": [...], "frequency": ...,
//  "summary": {"total", "evaluated", "flagged", "insufficient", "failed"}, "errors": [{"code", "error"}]}.
// `evaluate` is called from `threads` threads at once (0: one per core).
nlohmann::ordered_json analyze_radar_pool(const RadarPool& pool, const std::string& frequency,
                                          const RadarEvaluator& evaluate, int threads = 0);

}  // namespace zerith
