#include "quorvel/ta/series_math.h"

#include <limits>

namespace quorvel::ta {

namespace {
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

Series vwma(const Series& close, const Series& volume, std::size_t period) {
  Series out(close.size(), NaN);
  double pv = 0, v = 0;
  for (std::size_t i = 0; i < close.size(); ++i) {
    pv += close[i] * volume[i];
    v += volume[i];
    if (i >= period) {
      pv -= close[i - period] * volume[i - period];
      v -= volume[i - period];
    }
    // Sums restart from scratch every `period` rows so that rounding cannot drift.
    if (i + 1 >= period && (i + 1) % period == 0) {
      pv = v = 0;
      for (std::size_t k = i + 1 - period; k <= i; ++k) {
        pv += close[k] * volume[k];
        v += volume[k];
      }
    }
    if (i + 1 >= period && v > 0) out[i] = pv / v;
  }
  return out;
}

Series volume_ratio(const Series& volume, std::size_t lookback) {
  Series out(volume.size(), NaN);
  double sum = 0.0;
  for (std::size_t i = 0; i < volume.size(); ++i) {
    if (i >= lookback) {
      const double mean = sum / double(lookback);
      if (mean > 0.0) out[i] = volume[i] / mean;
      sum -= volume[i - lookback];
    }
    sum += volume[i];
  }
  return out;
}

}  // namespace quorvel::ta
