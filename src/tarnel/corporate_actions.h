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

// The daily limit band (a fraction of the previous close) of the board of `code` (canonical) on
// `day`: Shanghai and Shenzhen main boards 10%; ChiNext (sz.30xxxx) 10% before 2020-08-24 and 20%
// from then; STAR (sh.688xxx, sh.689xxx) 20%; Beijing (bj.) 30%; funds 10% (their index's board is
// not known here); 10% for anything else (ST shares included, their history not being known).
double limit_band(const std::string& code, Date day);

// One tick of the instrument's price: 0.001 for funds, 0.01 otherwise.
double price_tick(const std::string& code);

// Sessions at the start of a series that have no band (a new listing's first five days).
inline constexpr std::size_t UNBANDED_FIRST_SESSIONS = 5;

// Finds the days of `bars` (a raw series of `code`) whose open lies beyond the band around the
// previous close by more than one tick, adjusts the bars before each, and records the adjustments
// in the table. Returns the table; a table without open/close columns or too short is unchanged.
BarTable adjust_for_corporate_actions(BarTable bars, const std::string& code);

}  // namespace tarnel
