#pragma once
// The trailing-stop tiers of a buy plan. The prompt sets three: ① at entry_price_high + 1 ATR the
// stop goes to entry_price_low; ② at entry_price_high + 1.5 ATR to entry_price_high + 0.5 ATR;
// ③ at target 1 a part is sold and the stop goes to entry_price_low + 1 ATR. Close targets and wide
// entry ranges can put them out of order, so the tiers are listed in trigger order, a stop never
// moves down (each is at least the previous tier's), a stop is always below its own trigger, and a
// tier that would trigger at or beyond target 1 is merged into tier ③ — each change said in a note.
// Pure; any thread.
#include <string>
#include <vector>

#include "quorvel/agent/offline/offline_stock_plan.h"

namespace quorvel::agent::offline {

struct TrailingTier {
  std::string mark;  // ①, ② or ③
  double trigger;    // price that arms the tier
  double stop;       // the stop from then on
  bool take_profit;  // sells 30-50% (tier ③)
};

struct TrailingPlan {
  std::vector<TrailingTier> tiers;  // in trigger order
  std::vector<std::string> notes;   // why a tier was merged or its stop kept
};

// `initial_stop` is the plan's stop_loss; prices on the grid's tick.
TrailingPlan trailing_tiers(const PriceGrid& grid, double entry_low, double entry_high, double initial_stop,
                            double target_1, double atr);

// "① 到 1850.00 → 止损移至 1760.00；…": the tiers, then the notes.
std::string trailing_text(const PriceGrid& grid, const TrailingPlan& plan);

}  // namespace quorvel::agent::offline
