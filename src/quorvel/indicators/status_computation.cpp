#include "quorvel/indicators/status_computation.h"

#include "contracts/errors.h"
#include "contracts/market_data.h"

namespace quorvel::indicators {

MAStatus get_ma_status(tarnel::BarTable& df, MA_Type ma_type) {
  if (ma_type != MA_Type::EMA)
    throw ValueError("不支持的移动平均类型: " + to_string(ma_type) + "。支持的类型为 'EMA'");
  if (!df.has_column("EMA_5")) tarnel::set_ema(df);
  return MAStatus(ma_type);
}

MStatus get_macd_status(tarnel::BarTable& df) {
  if (!df.has_column("MACD")) tarnel::set_macd(df);
  const double dif = df.last("MACD");
  const double dea = df.last("MACD_signal");
  const double hist = df.last("MACD_hist");
  return MStatus(dif, dea, hist);
}

RStatus get_rsi_status(tarnel::BarTable& df) {
  if (!df.has_column("RSI")) tarnel::set_rsi(df, 12);
  return RStatus(df.last("RSI"));
}

BollingerBandsStatus get_boll_status(tarnel::BarTable& df) {
  if (!df.has_column("upper_band")) tarnel::set_boll(df);
  const double upper = df.last("upper_band");
  const double middle = df.last("middle_band");
  const double lower = df.last("lower_band");
  return BollingerBandsStatus(upper, middle, lower);
}

VolumeStatus get_volume_status(tarnel::BarTable& df) {
  if (!df.has_column("Volume_MA")) tarnel::set_volume(df);
  const double ratio = df.last("Volume_Ratio");
  const double volume = df.last("volume");
  const double volume_ma = df.last("Volume_MA");
  const double atr = df.last("ATR");
  const double volatility = df.last("Volatility");
  return VolumeStatus(volume, volume_ma, ratio, atr, volatility);
}

StockStatus get_stock_status(const tarnel::BarTable& df, const std::string& code) {
  tarnel::BarTable copy = df;
  StockStatus status(code);
  status.macd_status = get_macd_status(copy);
  status.rsi_status = get_rsi_status(copy);
  status.boll_status = get_boll_status(copy);
  status.volume_status = get_volume_status(copy);
  status.ma_status = get_ma_status(copy, MA_Type::EMA);
  status.price = copy.last("close");
  status.name = tarnel::get_name_from_code(code);
  return status;
}

}  // namespace quorvel::indicators
