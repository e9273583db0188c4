#pragma once
// The indicator columns an AI analysis shows the LLM, added to a bar table in place: the
// market-data service's EMA, RSI, MACD, Bollinger, volume and KDJ columns, then VWMA, OBV, ADX, MFI
// and SAR computed here with TA-Lib. Not thread-safe for one table; separate tables are fine.
#include <vector>

#include "contracts/bar_table.h"

namespace quorvel::strategy::ai {

// Period of the volume-weighted moving average, in bars.
inline constexpr int VWMA_PERIOD = 20;

// Volume-weighted average close over VWMA_PERIOD bars (NaN in the warm-up rows); a table shorter
// than the period gets its close column instead, so the LLM always sees a value.
std::vector<double> vwma(const tarnel::BarTable& df);

// Adds every column above; an empty table is left as it is.
void add_indicator_columns(tarnel::BarTable& df);

}  // namespace quorvel::strategy::ai
