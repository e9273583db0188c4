#include "quorvel/indicators/status_records.h"

#include "quorvel/indicators/stock_status.h"

namespace quorvel::indicators {

namespace {

std::string list_text(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ", ";
    out += "'" + items[i] + "'";
  }
  return out + "]";
}

template <class T>
std::string sub_text(const std::optional<T>& sub) {
  return sub ? to_string(*sub) : "None";
}

}  // namespace

std::string to_string(TradeEnum v) {
  switch (v) {
    case TradeEnum::BUY: return "TradeEnum.BUY";
    case TradeEnum::SELL: return "TradeEnum.SELL";
    case TradeEnum::WATCH: return "TradeEnum.WATCH";
  }
  return "TradeEnum.?";
}

std::string to_string(TrendEnum v) {
  switch (v) {
    case TrendEnum::UP: return "TrendEnum.UP";
    case TrendEnum::DOWN: return "TrendEnum.DOWN";
    case TrendEnum::EQUAL: return "TrendEnum.EQUAL";
  }
  return "TrendEnum.?";
}

std::string to_string(MA_Type v) { return std::to_string(static_cast<int>(v)); }

std::string to_string(const MAStatus& s) { return "MAStatus(ma_type=" + to_string(s.ma_type) + ")"; }

std::string to_string(const MStatus& s) {
  return "DIF: " + r3(s.dif) + ", DEA:" + r3(s.dea) + ", MACD_hist: " + r3(s.macd_hist);
}

std::string to_string(const RStatus& s) { return "rsi: " + r3(s.rsi); }

std::string to_string(const BollingerBandsStatus& s) {
  return "Upper Band: " + r3(s.upper_band) + ", Middle Band: " + r3(s.middle_band) +
         ", Lower Band: " + r3(s.lower_band);
}

std::string to_string(const VolumeStatus& s) {
  return "Volume: " + r3(s.volume) + ", Volume_MA: " + r3(s.volume_ma) + ", Volume_Ratio: " + r0(s.volume_ratio) +
         ", ATR: " + r3(s.atr) + ", Volatility: " + r0(s.volatility) + ", msg: " + list_text(s.msg);
}

std::string to_string(const StockStatus& s) {
  return "StockStatus(code=" + s.code + ", name=" + s.name + ", price=" + number_text(s.price) +
         ", macd_status=" + sub_text(s.macd_status) + ", rsi_status=" + sub_text(s.rsi_status) +
         ", boll_status=" + sub_text(s.boll_status) + ", volume_status=" + sub_text(s.volume_status) +
         ", ma_status=" + sub_text(s.ma_status) + ")";
}

}  // namespace quorvel::indicators
