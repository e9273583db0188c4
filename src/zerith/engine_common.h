#pragma once
// Pieces shared by the strategy engines (private to zerith): the window of bars an engine judges,
// per-bar series helpers and the texts and numbers of the signal event. Pure functions, thread-safe.
//
// Window. An engine reads at most the last WINDOW bars, and of those only the unbroken run of
// complete bars (finite open/high/low/close/volume, prices > 0, volume >= 0) that ends at the last
// bar. The cost is therefore fixed however long the history is. 500 bars let the recursive averages
// forget their seed: its weight at the last bar is below 1e-6 for EMA60 and Wilder's 14-bar
// smoothing (ATR, ADX, RSI), and below 1e-3 for KAMA(10) unless the market had no direction at all
// (efficiency ratio under 0.1) for the whole window.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "contracts/bar_table.h"
#include "contracts/pattern_service.h"
#include "quorvel/ta/series_math.h"
#include "zerith/json_number.h"

namespace zerith::engine {

using quorvel::ta::Series;
using quorvel::ta::vwma;

inline constexpr std::size_t WINDOW = 500;

// The engine's bars, oldest first; prices in the quote currency, volume in shares.
struct Bars {
  Series open, high, low, close, volume;
  std::size_t last() const { return close.size() - 1; }
};

struct EngineSpec {
  const char* name;      // strategy_name of the events
  std::size_t min_bars;  // complete bars the rules need
};

// The bars to judge, or, when the engine cannot judge them, the finished event saying why
// (state "数据不足" for missing or too short data, "观望" for a bar without trades or a flat
// market). `event` carries the strategy name and the last bar's date in both cases.
struct Prepared {
  std::optional<Bars> bars;
  SignalEvent event;
};
Prepared prepare(const tarnel::BarTable& df, const EngineSpec& rules);

// Range statistics over the rows [from, to] (inclusive, from <= to).
double highest(const Series& x, std::size_t from, std::size_t to);
double lowest(const Series& x, std::size_t from, std::size_t to);
double mean(const Series& x, std::size_t from, std::size_t to);
// Row of the lowest value in [from, to] (the earliest one on ties).
std::size_t lowest_row(const Series& x, std::size_t from, std::size_t to);

// a moved from at-or-below b (bar i-1) to above b (bar i); false when a value is NaN. i >= 1.
bool crossed_above(const Series& a, const Series& b, std::size_t i);
bool crossed_below(const Series& a, const Series& b, std::size_t i);

// Volume of bar i over the mean volume of the `window` bars before it (the A-share 量比); NaN
// when those bars traded nothing. i >= window.
double volume_ratio(const Series& volume, std::size_t i, std::size_t window);
// Kaufman's efficiency ratio: |close_i - close_(i-n)| / sum of |close_k - close_(k-1)| over the
// same n bars; 0 when the price did not move at all. i >= n.
double efficiency_ratio(const Series& close, std::size_t i, std::size_t n);

// Rounded to 3 decimals; NaN stays NaN.
double round3(double x);
// A details value: rounded to 3 decimals, null for NaN and infinities.
Json num3(double x);
// Numbers in reason texts with 3, 2 or 1 decimals ("12.345").
std::string f3(double x);
std::string f2(double x);
std::string f1(double x);

// Long-side reference prices: the stop and the target close + 2 x (close - stop), rounded to
// 3 decimals; both NaN when the stop is not below the close.
struct LongReference {
  double stop_loss, take_profit;
};
LongReference long_reference(double close, double stop);

// The four engines, one per file.
SignalEvent trend_signal(const tarnel::BarTable& df);
SignalEvent reversal_signal(const tarnel::BarTable& df);
SignalEvent kaufman_signal(const tarnel::BarTable& df);
SignalEvent us_dual_core_signal(const tarnel::BarTable& df);

}  // namespace zerith::engine
