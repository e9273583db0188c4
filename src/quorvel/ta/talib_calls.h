#pragma once
// Calls of the technical-analysis library over whole columns. Each result has the input's length;
// the warm-up rows the library does not compute (its lookback) are NaN.
#include <vector>

namespace quorvel::ta::talib {

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

Series adx(const Series& high, const Series& low, const Series& close, int period);
// Kaufman adaptive moving average.
Series kama(const Series& x, int period);
Series obv(const Series& close, const Series& volume);
Series mfi(const Series& high, const Series& low, const Series& close, const Series& volume, int period);
// Parabolic SAR with the given acceleration step and maximum.
Series sar(const Series& high, const Series& low, double acceleration, double maximum);

// Candle patterns: +100 bullish, -100 bearish, 0 none, per row (NaN in the warm-up rows).
struct Candles {
  const Series& open;
  const Series& high;
  const Series& low;
  const Series& close;
};
Series cdl_engulfing(const Candles& c);
Series cdl_morning_star(const Candles& c);
Series cdl_evening_star(const Candles& c);

}  // namespace quorvel::ta::talib
