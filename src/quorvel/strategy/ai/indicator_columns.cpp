#include "quorvel/strategy/ai/indicator_columns.h"

#include "contracts/market_data.h"
#include "tarnel/talib_calls.h"

namespace quorvel::strategy::ai {

namespace talib = tarnel::talib;

std::vector<double> vwma(const tarnel::BarTable& df) {
  const auto& close = df.column("close");
  if (df.rows() < std::size_t(VWMA_PERIOD)) return close;
  const auto& volume = df.column("volume");
  std::vector<double> turnover(close.size());
  for (std::size_t i = 0; i < close.size(); ++i) turnover[i] = close[i] * volume[i];
  std::vector<double> out = talib::sma(turnover, VWMA_PERIOD);
  const std::vector<double> mean_volume = talib::sma(volume, VWMA_PERIOD);
  for (std::size_t i = 0; i < out.size(); ++i) out[i] /= mean_volume[i];
  return out;
}

void add_indicator_columns(tarnel::BarTable& df) {
  if (df.empty()) return;
  tarnel::set_ema(df);
  tarnel::set_rsi(df);
  tarnel::set_macd(df);
  tarnel::set_boll(df);
  tarnel::set_volume(df);
  tarnel::set_kdj(df);
  const auto& high = df.column("high");
  const auto& low = df.column("low");
  const auto& close = df.column("close");
  const auto& volume = df.column("volume");
  std::vector<double> columns[] = {vwma(df), talib::obv(close, volume), talib::adx(high, low, close, 14),
                                   talib::mfi(high, low, close, volume, 14), talib::sar(high, low, 0.02, 0.2)};
  const char* names[] = {"VWMA", "OBV", "ADX", "MFI", "SAR"};
  for (int i = 0; i < 5; ++i) df.set_column(names[i], std::move(columns[i]));
}

}  // namespace quorvel::strategy::ai
