#pragma once
// Prices as the exchange quotes them. Sources that keep prices as single-precision floats hand over
// binary noise (383.3999938964844 for 383.4); the store rounds it away on every write so that
// neither a reader nor the LLM ever sees such digits.
#include <vector>

#include "tarnel/csv_bars.h"

namespace tarnel {

// The price decimals of the rows (2, 3 or 4), by the rule of price_decimals in rows_json.h.
int price_decimals_of(const std::vector<BarRow>& rows);

// Rounds open/high/low/close of every row to `decimals` (half to even).
void round_prices(std::vector<BarRow>& rows, int decimals);

// The rows with their prices rounded to their own precision.
std::vector<BarRow> with_rounded_prices(std::vector<BarRow> rows);

}  // namespace tarnel
