#pragma once
// Splits and bonus issues in raw (unadjusted) A-share and fund series. An exchange's price-limit
// band bounds how far a session may open from the previous close; an open beyond the band (by more
// than one tick) can only follow a corporate action that changed the share count, so the earlier
// bars are put on the new basis: prices divided by the ratio previous close / open, volumes
// multiplied by it. Cash dividends stay in the series (they move prices by far less than a band).
//
// Pure functions; thread-safe.
#include <string>
#include <vector>

#include "contracts/bar_table.h"

namespace tarnel {

// Finds the days of `bars` (a raw series of `code`) whose open lies beyond the band around the
// previous close by more than one tick, adjusts the bars before each, and records the adjustments
// in the table. Returns the table; a table without open/close columns or too short is unchanged.
BarTable adjust_for_corporate_actions(BarTable bars, const std::string& code);

}  // namespace tarnel
