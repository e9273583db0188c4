#pragma once
// The check a validated decision map must pass against the instrument it was written for, right
// after extraction: prices where its action needs them, and no value no market can have. A decision
// that fails it is treated as no decision at all (the analysis falls back to waiting), because a
// plan with a negative stop or a target at a thousand times the price cannot be followed.
//
// Stateless; may run on any thread.
#include <optional>
#include <string>

#include "quorvel/agent/schemas/decision.h"

namespace quorvel::agent::schemas {

// What the analysis knows of the instrument the decision is about.
struct AnalysedInstrument {
  std::string code;
  std::string date;   // analysis day, "YYYY-MM-DD"
  double close = 0.0;  // last close in the quote currency; not finite or <= 0 when unknown
};

// A price above this many times the analysed close is taken for a fault, not a target.
inline constexpr double MAX_PRICE_TO_CLOSE = 1000.0;
// A reward/risk ratio above this is taken for a fault (a stop a tick under the entry, a typo).
inline constexpr double MAX_REWARD_RISK = 100.0;
// A decision whose current price is further than this from the analysed close (a fraction) was
// written about another day or another instrument.
inline constexpr double MAX_PRICE_MISMATCH = 0.005;

// Why the decision (as built from the extracted map: absent prices are 0, an absent holder action
// is 继续持有) cannot be a plan for `instrument`, in Chinese for the log, or nothing when it can:
// - a buy needs positive entry_price_low, entry_price_high, stop_loss, target_1 and target_2;
// - 观望等待 for a holder who keeps (继续持有) or trims (分批减仓) needs a positive stop_loss and
//   target_1 (清仓离场 may leave every price at 0);
// - every price and ratio must be a finite number, not negative, prices at most MAX_PRICE_TO_CLOSE
//   times the close, rrr and rrr_max at most MAX_REWARD_RISK;
// - it must be about the analysed instrument and day: the same instrument (codes compared in their
//   canonical spelling, so "000001.SZ" is sz.000001), the same analysis date, and a current price
//   (when given) within MAX_PRICE_MISMATCH of the analysed close.
std::optional<std::string> implausible_decision(const StockDecision& decision, const AnalysedInstrument& instrument);

}  // namespace quorvel::agent::schemas
