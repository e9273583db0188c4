#include "quorvel/strategy/ai/indicator_columns.h"

#include "contracts/market_data.h"
#include "quorvel/ta/series_math.h"
#include "quorvel/ta/talib_calls.h"

namespace quorvel::strategy::ai {

namespace talib = quorvel::ta::talib;

std::vector<double> vwma(const tarnel::BarTable& df) {
  const auto& close = df.column("close");
  if (df.rows() < std::size_t(VWMA_PERIOD)) return close;
  return ta::vwma(close, df.column("volume"), VWMA_PERIOD);
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
