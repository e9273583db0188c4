#pragma once
// The indicator series the pattern scan reads, computed once per instrument from the OHLCV columns
// (indicator columns already on the table are not trusted: the scan must give the same answer for
// any caller). Rows whose open, high, low, close or volume is missing or not finite are left out
// first, so a gap in the data cannot poison the moving averages that follow it.
//
// Prices in the quote currency, volume in shares. Warm-up rows are NaN.
#include <cstddef>
#include <vector>

#include "contracts/bar_table.h"
#include "quorvel/ta/series_math.h"

namespace zerith {

using quorvel::ta::Series;

struct ScanSeries {
  std::vector<tarnel::Date> dates;
  Series open, high, low, close, volume;
  Series ema5, ema10, ema20, ema60;
  Series atr;                     // ATR(14)
  Series adx;                     // ADX(14)
  Series rsi;                     // RSI(14)
  Series macd_hist;               // MACD 12/26/9 histogram
  Series upper, middle, lower;    // Bollinger 20, 2 sigma
  Series vwma;                    // volume-weighted mean close over 20 bars
  Series volume_ratio;            // volume / mean volume of the 5 previous bars (量比)
  Series engulfing, morning_star, evening_star;  // +100 / -100 / 0
  std::size_t dropped_rows = 0;   // rows left out for missing values

  std::size_t size() const { return close.size(); }
  std::size_t last() const { return close.size() - 1; }
};

ScanSeries compute_scan_series(const tarnel::BarTable& df);

}  // namespace zerith
