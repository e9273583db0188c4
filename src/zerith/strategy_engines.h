#pragma once
// The strategy engines of the pattern service: each judges the last bar of a daily bar table and
// answers with a signal event (buy / sell fired on that bar, strength tier, state, long-side stop
// and take-profit references in the quote currency, a one-sentence reason and the indicator values
// the rules used). The rules of each engine are documented above its function in engine_*.cpp.
//
// Only the open/high/low/close/volume columns are read; indicator columns of the table are
// ignored and recomputed. Pure and thread-safe. Never throws: an empty, short or damaged table
// gives an event without signals whose state and reason say why.
#include <string>

#include "contracts/bar_table.h"
#include "contracts/pattern_service.h"

namespace zerith {

SignalEvent compute_strategy_signal(StrategyEngine engine, const tarnel::BarTable& df, const std::string& symbol);

// "ENGINE1_TREND", "ENGINE2_REVERSAL", "ENGINE3_KAUFMAN", "US_DUAL_CORE".
std::string engine_name(StrategyEngine engine);

}  // namespace zerith
