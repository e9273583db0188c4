#pragma once
// The descriptive members of a scan result, each computed as the stock prompt defines it. A member
// that cannot be computed is null and carries a `*_reason` text beside it.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "zerith/scan_series.h"
#include "zerith/json_number.h"

namespace zerith {

using Json = nlohmann::ordered_json;

// support = lower of the 20-day low and EMA20; resistance = higher of the 20-day high and the upper
// Bollinger band; low_5d = lowest close of the last 5 bars.
Json price_context(const ScanSeries& s);

// Classic and Fibonacci floor pivots from the high, low and close of the last complete calendar
// week before the week of the last bar. Nothing (with a reason) when no such week is in the data.
struct WeeklyPivots {
  Json classic, fibonacci;
  std::string reason;  // empty when computed
};
WeeklyPivots weekly_pivots(const ScanSeries& s);

// EMA alignment, VWMA and its 3-bar slope, ADX and its 3-bar slope, close-to-EMA20 distance in ATR.
Json trend_structure(const ScanSeries& s);

// The pullback from the recent swing high (highest high of the last 60 bars).
struct Pullback {
  double depth_pct = 0.0;             // (swing high - close) / swing high, percent
  int days = 0;                       // bars since the swing high
  std::optional<double> avg_vr;       // mean volume ratio of the down closes since then
};
Pullback pullback(const ScanSeries& s);

// 20-bar return of the instrument in percent; NaN with fewer than 21 bars.
double return_20d(const ScanSeries& s);

// Candle patterns of the last 3 bars: [{"name", "date", "signal"}], newest last.
Json candle_patterns(const ScanSeries& s);

// Climax volume: volume ratio above 2.5 on a down close or with an upper shadow of half the range.
bool climax_volume(const ScanSeries& s);
// Volume without gain: volume ratio above 1.3 with a down body.
bool volume_without_gain(const ScanSeries& s);
// An evening star among the last 3 bars.
bool recent_evening_star(const ScanSeries& s);

}  // namespace zerith
