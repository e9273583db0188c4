#pragma once
// The hard limits and the base confidence score of one trading decision, computed before the LLM is
// asked so that the model receives them as data ("logic shift-left"). The tuning constants are read
// at every call. Pure apart from that read; does not log; thread-safe.
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"

namespace quorvel::strategy::ai {

// 预计算约束与基准评分。
// Result, members in this order: min_rrr, max_stop_dist_atr (ATR multiples), max_position_pct
// (percent of the account), base_confidence_score (0 to 4.5, two decimals, halves to even),
// market_regime.
//
// `pattern_info` supplies pre_screen.strategy_hint and pre_screen.priority_score; a member that is
// absent, null or of another kind counts as absent. `df` is read for EMA_5, EMA_10, EMA_20 and
// Volume_Ratio, `weekly_df` for EMA_5 and EMA_20 (NaN makes a comparison false).
// Throws quorvel::RuntimeError when REGIME_PARAMS has no "偏空" entry, POSITION_CAPS lacks "bottom"
// or "default", or a non-bottom setup with two non-empty tables lacks EMA_5 or EMA_20.
nlohmann::ordered_json _calculate_constraints(const std::string& bias, const nlohmann::ordered_json& pattern_info,
                                              const tarnel::BarTable& df, const tarnel::BarTable& weekly_df);

// True for a bottom-reversal setup: the lower-cased strategy hint contains "bottom" or "反转".
bool is_bottom_hint(const std::string& lowered_hint);

// The pre-screen's strategy hint, lower-cased; empty when the hint or the pre-screen is absent or
// not of the expected kind.
std::string lowered_strategy_hint(const nlohmann::ordered_json& pattern_info);

}  // namespace quorvel::strategy::ai
