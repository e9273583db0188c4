#pragma once
// What the pattern scan needs from the market's first core index on a date: its 20-bar return (for
// the relative strength rs_20d) and its volatility regime. Computed from the index's bars up to the
// date; an index without enough bars leaves the member unknown with a reason.
#include <cmath>
#include <string>

#include "contracts/bar_table.h"

namespace zerith {

struct IndexContext {
  std::string index;                 // store code of the index, e.g. sh.000001
  std::string name;                  // display name, e.g. 上证指数
  std::string as_of;                 // date of the index bar used
  double return_20d = NAN;           // percent
  std::string vol_regime;            // high_vol / low_vol / normal_vol; empty when unknown
  double atr = NAN;                  // ATR(14) on the date, index points
  double atr_mean_60 = NAN;          // mean ATR(14) of the 60 bars up to the date
  std::string reason;                // why a member is unknown
};

// ATR above 1.3x its 60-bar mean is high_vol, below 0.85x low_vol, else normal_vol.
inline constexpr double HIGH_VOL_RATIO = 1.3;
inline constexpr double LOW_VOL_RATIO = 0.85;

// The context from the index's daily bars (oldest first, ending at or before the date).
IndexContext index_context_from_bars(const std::string& index, const std::string& name, const tarnel::BarTable& bars);

}  // namespace zerith
