#pragma once
// The levels of a buy setup in the chosen frame: the entry range, the stop and the two targets.
//
// Entry range: the frame's pullback zone (trend: EMA20 to EMA10 or EMA20 + 0.5 ATR; squeeze
// exemption: EMA5 ± 1 ATR; bottom reversal: the 5-day low to the price; range: the support to the
// price), never above the price, and inside the next session's limit prices when the prompt gives
// them.
// Stop: under an anchor by the frame's ATR buffer (trend 1, bottom reversal 0.5, range 1, breakout
// 0.5; settlement T+1 takes at least 1, a Hong Kong stock with a 10% day in the last five sessions
// 0.5 more). The anchors are tried in the prompt's order — the frame's key level, VWMA, the
// structural low — and an anchor above entry_price_low is never used. The stop also lies at least
// 0.5 ATR under entry_price_low, and a bottom-reversal or range plan's stop at least 0.5 ATR under
// the structure it defends (low_5d; price_context.support). The first anchor whose stop fits within
// the stop cap wins; when none does the entry is too early and there is no candidate.
// Pure; any thread.
#include <optional>

#include "quorvel/agent/offline/offline_stock_plan.h"

namespace quorvel::agent::offline {

// The candidate of `p.strategy_mode`; nothing, with p.candidate_problem set, when it cannot be
// priced. Sets p.watch_low / p.watch_high to the entry range when there is one.
std::optional<BuyCandidate> buy_levels(const StockPromptFacts& f, const StockReading& r, TradePlan& p);

// First level of r.target_levels above `floor` by at least `gap` (and always by at least one tick).
std::optional<Level> level_above(const StockReading& r, const PriceGrid& grid, double floor, double gap = 0);

// The stop cap in ATR: max_stop_dist_atr, never above the tier's cap.
double stop_cap_atr(const StockReading& r);

}  // namespace quorvel::agent::offline
