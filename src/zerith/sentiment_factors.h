#pragma once
// The arithmetic of the sentiment thermometer: plain functions over bar tables, no services.
//
// Factors. For every ETF and bar t (daily or weekly bars; windows in bars of that frequency):
//   above_ma   1 when close_t > SMA(close, ma)_t, else 0
//   momentum   close_t / close_{t-momentum} - 1
//   turnover   ln( mean(amount, turnover_short) / mean(amount, turnover_long) ); amount in CNY,
//              close x volume where the amount is missing
//   volatility sample standard deviation of ln(close_i / close_{i-1}) over `volatility` bars
//   position   (close_t - min low) / (max high - min low) over `position` bars, 0..1
// Prices are first repaired for splits and other corporate actions (repair_price_jumps), so that a
// 1:4 split does not read as a crash.
//
// Cross-section at each bar date (ETFs with a bar in that day or week, at least min_names of them):
//   breadth = share of ETFs with above_ma = 1; momentum, turnover, volatility, positioning = median.
//
// Percentile: each factor's value at date t ranked against its own last `history` values up to
// and including t (mid-rank, 0-100); fewer than `min_history` valid values gives no percentile.
//
// Temperature (0-100) = 0.25 breadth + 0.25 momentum + 0.20 turnover + 0.20 positioning
//                       + 0.10 volatility', all as percentiles, where
//   volatility' = 50 + (volatility - 50) x (momentum - 50) / 50:
// high volatility heats a rising market (frenzy) and chills a falling one (panic); on its own it
// says nothing about the direction.
//
// Confidence (0-1) = n/(n+5) x (0.4 + 0.6 agreement) x (0.5 + 0.5 depth), with n the ETFs in the
// sample, agreement = 1 - (population standard deviation of the five weighted inputs) / 50, and
// depth = the share of the percentile window that has history.
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "contracts/bar_table.h"

namespace zerith {

// Window lengths in bars of the snapshot's frequency, and the rules of the reading.
struct SentimentParams {
  int ma = 20;
  int momentum = 20;
  int turnover_short = 5;
  int turnover_long = 60;
  int volatility = 20;
  int position = 120;
  int history = 500;
  int min_history = 120;
  int direction_lookback = 3;         // bars between the two temperatures compared
  double direction_threshold = 5.0;   // temperature points for warming / cooling
  int min_names = 3;                  // ETFs needed for a cross-sectional value
};

// Parameters of "D" (daily) or "W" (weekly); a quorvel::ValueError for any other frequency.
SentimentParams sentiment_params(const std::string& freq);

inline constexpr std::size_t FACTOR_COUNT = 5;
// Keys in snapshot order: breadth, momentum, turnover, volatility, positioning.
extern const std::array<const char*, FACTOR_COUNT> FACTOR_KEYS;
enum FactorIndex : std::size_t { BREADTH = 0, MOMENTUM = 1, TURNOVER = 2, VOLATILITY = 3, POSITIONING = 4 };

// A copy of `daily` in which every close-to-close move larger than `max_move` (A-share funds move at
// most 20% a day) is taken for a corporate action: the earlier prices are scaled by the opening gap
// of that day and the earlier volumes by its inverse.
tarnel::BarTable repair_price_jumps(const tarnel::BarTable& daily, double max_move = 0.21);

// Per-bar factor inputs of one ETF, aligned with its rows; NaN during the warm-up.
struct EtfFeatures {
  std::vector<double> above_ma;
  std::vector<double> momentum;
  std::vector<double> turnover;
  std::vector<double> volatility;
  std::vector<double> position;
};
EtfFeatures compute_etf_features(const tarnel::BarTable& bars, const SentimentParams& p);

// Cross-sectional factor values, one point per bar date (per Monday-Sunday week when `weekly`).
struct FactorSeries {
  std::vector<tarnel::Date> dates;  // latest bar date of the point
  std::vector<int> names;           // ETFs with a bar at the point and a complete MA window
  std::array<std::vector<double>, FACTOR_COUNT> values;
  std::size_t size() const { return dates.size(); }
};
FactorSeries build_factor_series(const std::vector<tarnel::BarTable>& etf_bars, const SentimentParams& p,
                                 bool weekly);

// Mid-rank percentile (0-100) of series[at] among the valid values of series[at-window+1 .. at];
// NaN when series[at] is NaN or fewer than `min_valid` values are valid.
double percentile_rank(const std::vector<double>& series, std::size_t at, int window, int min_valid);

struct TemperatureReading {
  double temperature = 0;                        // 0-100, unrounded
  std::array<double, FACTOR_COUNT> percentiles{};  // in FACTOR_KEYS order
  double agreement = 0;                          // 0-1
  double depth = 0;                              // 0-1
};
// The reading at point `at`; nothing when a factor has no percentile there.
std::optional<TemperatureReading> temperature_at(const FactorSeries& s, std::size_t at, const SentimentParams& p);

// The weighted inputs of the temperature (volatility signed by momentum), in FACTOR_KEYS order.
std::array<double, FACTOR_COUNT> temperature_inputs(const std::array<double, FACTOR_COUNT>& percentiles);
double compose_temperature(const std::array<double, FACTOR_COUNT>& percentiles);

// ICE_COLD (<= 15), COLD (<= 35), NEUTRAL (< 65), HOT (< 85), OVERHEAT (>= 85).
std::string sentiment_state(double temperature);
// "warming" / "cooling" when the change reaches the threshold, else "flat" (also for NaN).
std::string sentiment_direction(double change, double threshold);
double sentiment_confidence(int n_etf, double agreement, double depth);

}  // namespace zerith
