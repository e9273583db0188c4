#pragma once
// Calls of the technical-analysis library over whole columns. Each result has the input's length;
// the warm-up rows the library does not compute (its lookback) are NaN.
#include <vector>

namespace tarnel::talib {

using Series = std::vector<double>;

Series ema(const Series& x, int period);
Series sma(const Series& x, int period);
Series rsi(const Series& x, int period);
Series atr(const Series& high, const Series& low, const Series& close, int period);

struct Macd {
  Series macd, signal, hist;
};
Macd macd(const Series& x, int fast, int slow, int signal);

struct Bands {
  Series upper, middle, lower;
};
// Simple-moving-average middle band, `deviations` population standard deviations wide.
Bands bbands(const Series& x, int period, double deviations);

}  // namespace tarnel::talib
