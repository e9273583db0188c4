#pragma once
// Indicator columns added in place to a daily or weekly bar table.
//
//   set_ema    EMA_5, EMA_10, EMA_20, EMA_60, EMA_120
//   set_macd   MACD (DIF), MACD_signal (DEA), MACD_hist; 12/26/9
//   set_rsi    RSI (the given period), RSI_6, RSI_12, RSI_24
//   set_boll   upper_band, middle_band, lower_band; 20 bars, 2 standard deviations
//   set_volume Volume_MA (5-bar mean volume), Volume_Ratio (volume / mean volume of the 5 previous
//              bars), ATR (14), Volatility (20-bar sample standard deviation of returns, percent)
//   set_kdj    K, D, J; 9/3/3 recursive form starting at 50
// Warm-up rows are NaN. An empty table gets empty columns.
#include "contracts/bar_table.h"

namespace tarnel::technical {

void set_ema(BarTable& df);
void set_macd(BarTable& df);
void set_rsi(BarTable& df, int period);
void set_boll(BarTable& df);
void set_volume(BarTable& df);
void set_kdj(BarTable& df);

}  // namespace tarnel::technical
