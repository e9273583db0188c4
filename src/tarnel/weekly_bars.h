#pragma once
// Weekly bars from daily bars.
#include "contracts/bar_table.h"

namespace tarnel {

// One bar per calendar week (Monday to Sunday), indexed by the week's last trading date: first
// open, highest high, lowest low, last close, summed volume and amount (NaN amounts are skipped;
// a week with no amount at all keeps NaN). Only the base columns are carried over.
BarTable weekly_bars(const BarTable& daily);

}  // namespace tarnel
