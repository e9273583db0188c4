#pragma once
// The deterministic check of a buy plan against the limits the analysis handed the model: the
// pre-computed constraints (pattern_info.calculated_constraints) and the market's trading rules
// (pattern_info.trading_rules). It runs after extraction, on every validated decision, and changes
// nothing: a failed hard check marks the analysis for review, a failed soft check is reported.
//
// Hard checks (a trader must not follow the plan as written):
//   veto             a buy the prompt forbids outright: direction 看空, strategy_mode 均线压缩,
//                    holder_action 清仓离场, or the last close sealed at limit-down
//                    (trading_rules.last_close_at_limit_down)
//   zero_cap         a buy where trading_rules.effective_max_position_pct is 0 (risk-off day,
//                    penny-stock liquidity)
//   position_cap     position_pct above the effective cap, or a position_pct that is not a plain
//                    percentage ("三成", "全仓"): a size nobody can check is not followed
//   min_rrr          (target_1 - entry_price_high) / (entry_price_high - stop_loss) below min_rrr
//   stop_distance    (entry_price_high - stop_loss) / ATR above max_stop_dist_atr; also failed when
//                    there is no ATR to measure it (a limit that cannot be verified is not met)
//   limit_band       entry range outside the next session's limit-down .. limit-up prices
// Soft checks (reported only):
//   stop_buffer      stop less than 0.5 ATR under the entry low, or under the support it defends
//                    (price_context.support; price_context.low_5d for 底部反转)
//   strong_buy_direction  强烈买入 without direction 看多
//   target_beyond_r3 a target above the classic pivot R3
//
// A market without a band (Hong Kong, US) gets no limit_band check, and the soft checks need their
// inputs (ATR, support, R3). A decision that is not a buy gets no checks.
//
// Pure; any thread.
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "quorvel/agent/schemas/decision.h"

namespace quorvel::agent::schemas {

// Distance in ATR below which a stop counts as inside the noise of its anchor.
inline constexpr double MIN_STOP_BUFFER_ATR = 0.5;

struct PlanCheck {
  std::string name;   // one of the names above
  bool hard = false;
  bool passed = true;
  std::string label;  // Chinese, for people: "仓位上限"
  std::string detail; // Chinese, with the numbers: "position_pct 30 > 有效上限 7.5"
  nlohmann::ordered_json values;  // the numbers the check compared, by name
};

// The checks of `decision` against the members of `pattern_info` named above. trading_rules.atr
// is the ATR the distances are measured in.
std::vector<PlanCheck> check_plan(const StockDecision& decision, const nlohmann::ordered_json& pattern_info);

// True when a hard check failed.
bool review_required(const std::vector<PlanCheck>& checks);

// [{"name","level":"hard"|"soft","passed","label","detail","values"}...] in check order.
nlohmann::ordered_json plan_checks_json(const std::vector<PlanCheck>& checks);

// "仓位上限: position_pct 30 > 有效上限 7.5" for every failed check, hard ones first.
std::vector<std::string> failed_check_lines(const std::vector<PlanCheck>& checks);

// A stored plan_checks array read back: the failed ones' lines, hard first; malformed entries are skipped.
std::vector<std::string> failed_check_lines(const nlohmann::ordered_json& plan_checks);

// The percentage of a position_pct text: "30%", "30", "15.5%"; a range ("15%-30%", "20~40%") gives
// its upper bound. Nothing for any other text ("三成", "约30%", "-10%", full-width digits).
std::optional<double> position_percent(const std::string& position_pct);

}  // namespace quorvel::agent::schemas
