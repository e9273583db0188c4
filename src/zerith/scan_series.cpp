#include "zerith/scan_series.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "quorvel/ta/talib_calls.h"

namespace zerith {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// The candle patterns read only the last few bars, and each pattern's answer on a bar depends on
// the bars of its own lookback (body and shadow averages over at most a dozen bars), so they are
// computed on a tail of the series; the rows before it stay NaN.
constexpr std::size_t CANDLE_TAIL = 40;

void candle_patterns_of_tail(ScanSeries& s) {
  namespace ta = quorvel::ta::talib;
  const std::size_t n = s.size(), from = n > CANDLE_TAIL ? n - CANDLE_TAIL : 0;
  auto tail = [&](const Series& x) { return Series(x.begin() + std::ptrdiff_t(from), x.end()); };
  const Series o = tail(s.open), h = tail(s.high), l = tail(s.low), c = tail(s.close);
  const ta::Candles candles{o, h, l, c};
  auto place = [&](const Series& part) {
    Series out(n, NaN);
    std::copy(part.begin(), part.end(), out.begin() + std::ptrdiff_t(from));
    return out;
  };
  s.engulfing = place(ta::cdl_engulfing(candles));
  s.morning_star = place(ta::cdl_morning_star(candles));
  s.evening_star = place(ta::cdl_evening_star(candles));
}

}  // namespace

ScanSeries compute_scan_series(const tarnel::BarTable& df) {
  ScanSeries s;
  const std::size_t n = df.rows();
  s.dates.reserve(n);
  for (auto* col : {&s.open, &s.high, &s.low, &s.close, &s.volume}) col->reserve(n);
  const auto& o = df.column("open");
  const auto& h = df.column("high");
  const auto& l = df.column("low");
  const auto& c = df.column("close");
  const auto& v = df.column("volume");
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(o[i] + h[i] + l[i] + c[i] + v[i])) {
      ++s.dropped_rows;
      continue;
    }
    s.dates.push_back(df.index()[i]);
    s.open.push_back(o[i]);
    s.high.push_back(h[i]);
    s.low.push_back(l[i]);
    s.close.push_back(c[i]);
    s.volume.push_back(v[i]);
  }
  namespace ta = quorvel::ta::talib;
  s.ema5 = ta::ema(s.close, 5);
  s.ema10 = ta::ema(s.close, 10);
  s.ema20 = ta::ema(s.close, 20);
  s.ema60 = ta::ema(s.close, 60);
  s.atr = ta::atr(s.high, s.low, s.close, 14);
  s.adx = ta::adx(s.high, s.low, s.close, 14);
  s.rsi = ta::rsi(s.close, 14);
  s.macd_hist = ta::macd(s.close, 12, 26, 9).hist;
  auto bands = ta::bbands(s.close, 20, 2.0);
  s.upper = std::move(bands.upper);
  s.middle = std::move(bands.middle);
  s.lower = std::move(bands.lower);
  s.vwma = quorvel::ta::vwma(s.close, s.volume, 20);
  s.volume_ratio = quorvel::ta::volume_ratio(s.volume, 5);
  candle_patterns_of_tail(s);
  return s;
}

}  // namespace zerith
