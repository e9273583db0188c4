#include "tarnel/technical.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "quorvel/ta/talib_calls.h"

namespace tarnel::technical {

namespace talib = quorvel::ta::talib;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Volume relative to the mean volume of the `window` bars before it (the A-share 量比).
std::vector<double> volume_ratio(const std::vector<double>& volume, std::size_t window) {
  std::vector<double> out(volume.size(), NaN);
  double sum = 0;
  for (std::size_t i = 0; i < volume.size(); ++i) {
    if (i >= window) {
      const double mean = sum / double(window);
      out[i] = mean > 0 ? volume[i] / mean : NaN;
      sum -= volume[i - window];
    }
    sum += volume[i];
  }
  return out;
}

// Sample standard deviation (n - 1) of daily returns over `window` returns, in percent.
// Sums of the window are recomputed from scratch every `window` rows so rounding cannot drift.
std::vector<double> return_volatility(const std::vector<double>& close, std::size_t window) {
  std::vector<double> out(close.size(), NaN);
  if (close.size() <= window) return out;
  std::vector<double> r(close.size(), 0.0);
  for (std::size_t i = 1; i < close.size(); ++i) r[i] = close[i] / close[i - 1] - 1.0;
  double sum = 0, sum_sq = 0;
  for (std::size_t i = window; i < close.size(); ++i) {
    if ((i - window) % window == 0) {
      sum = sum_sq = 0;
      for (std::size_t k = i + 1 - window; k <= i; ++k) {
        sum += r[k];
        sum_sq += r[k] * r[k];
      }
    } else {
      sum += r[i] - r[i - window];
      sum_sq += r[i] * r[i] - r[i - window] * r[i - window];
    }
    const double n = double(window);
    const double var = std::max(0.0, (sum_sq - sum * sum / n) / (n - 1));
    out[i] = std::sqrt(var) * 100.0;
  }
  return out;
}

}  // namespace

void set_ema(BarTable& df) {
  // A copy: adding columns may move the table's column storage.
  const std::vector<double> close = df.column("close");
  for (int span : {5, 10, 20, 60, 120}) df.set_column("EMA_" + std::to_string(span), talib::ema(close, span));
}

void set_macd(BarTable& df) {
  auto m = talib::macd(df.column("close"), 12, 26, 9);
  df.set_column("MACD", std::move(m.macd));
  df.set_column("MACD_signal", std::move(m.signal));
  df.set_column("MACD_hist", std::move(m.hist));
}

void set_rsi(BarTable& df, int period) {
  const std::vector<double> close = df.column("close");  // a copy, as above
  std::vector<double> main_rsi;
  for (int p : {6, 12, 24}) {
    std::vector<double> rsi = talib::rsi(close, p);
    if (p == period) main_rsi = rsi;  // the same series: computed once
    df.set_column("RSI_" + std::to_string(p), std::move(rsi));
  }
  df.set_column("RSI", main_rsi.empty() ? talib::rsi(close, period) : std::move(main_rsi));
}

void set_boll(BarTable& df) {
  auto b = talib::bbands(df.column("close"), 20, 2.0);
  df.set_column("upper_band", std::move(b.upper));
  df.set_column("middle_band", std::move(b.middle));
  df.set_column("lower_band", std::move(b.lower));
}

void set_volume(BarTable& df) {
  const std::vector<double> volume = df.column("volume");  // a copy, as above
  df.set_column("Volume_MA", talib::sma(volume, 5));
  df.set_column("Volume_Ratio", volume_ratio(volume, 5));
  df.set_column("ATR", talib::atr(df.column("high"), df.column("low"), df.column("close"), 14));
  df.set_column("Volatility", return_volatility(df.column("close"), 20));
}

void set_kdj(BarTable& df) {
  const auto& high = df.column("high");
  const auto& low = df.column("low");
  const auto& close = df.column("close");
  const std::size_t n = close.size(), window = 9;
  std::vector<double> k(n), d(n), j(n);
  double prev_k = 50.0, prev_d = 50.0;
  for (std::size_t i = 0; i < n; ++i) {
    // Until nine bars exist the range covers the bars so far.
    const std::size_t from = i + 1 >= window ? i + 1 - window : 0;
    const double hh = *std::max_element(high.begin() + long(from), high.begin() + long(i) + 1);
    const double ll = *std::min_element(low.begin() + long(from), low.begin() + long(i) + 1);
    const double rsv = hh > ll ? (close[i] - ll) / (hh - ll) * 100.0 : 50.0;  // flat range: neutral
    k[i] = prev_k * 2.0 / 3.0 + rsv / 3.0;
    d[i] = prev_d * 2.0 / 3.0 + k[i] / 3.0;
    j[i] = 3.0 * k[i] - 2.0 * d[i];
    prev_k = k[i];
    prev_d = d[i];
  }
  df.set_column("K", std::move(k));
  df.set_column("D", std::move(d));
  df.set_column("J", std::move(j));
}

}  // namespace tarnel::technical
