#pragma once
// Per-indicator status records: raw values of the last bar of a bar table, with fixed one-line
// text forms. Numbers remember whether they are integers (the defaults) or reals (table cells).
#include <string>
#include <vector>

#include "quorvel/indicators/enums.h"
#include "quorvel/utils/number_text.h"

namespace quorvel::indicators {

struct MAStatus {
  MA_Type ma_type = MA_Type::EMA;
  MAStatus() = default;
  explicit MAStatus(MA_Type type) : ma_type(type) {}
};

// MACD of the last bar: DIF line, DEA (signal) line, histogram.
struct MStatus {
  Num dif = 0;
  Num dea = 0;
  Num macd_hist = 0;
  MStatus() = default;
  MStatus(Num dif_, Num dea_ = 0, Num hist_ = 0) : dif(dif_), dea(dea_), macd_hist(hist_) {}  // NOLINT
};

struct RStatus {
  Num rsi;
  explicit RStatus(Num rsi_) : rsi(rsi_) {}
};

struct BollingerBandsStatus {
  Num upper_band;
  Num middle_band;
  Num lower_band;
  BollingerBandsStatus(Num upper, Num middle, Num lower) : upper_band(upper), middle_band(middle), lower_band(lower) {}
};

// Volume in shares; ATR in the quote currency; volatility in percent.
struct VolumeStatus {
  Num volume;
  Num volume_ma;
  Num volume_ratio;
  Num atr;
  Num volatility;
  std::vector<std::string> msg;
  int score = 0;
  VolumeStatus(Num volume_, Num volume_ma_, Num volume_ratio_, Num atr_, Num volatility_)
      : volume(volume_), volume_ma(volume_ma_), volume_ratio(volume_ratio_), atr(atr_), volatility(volatility_) {}
};

std::string to_string(const MAStatus& s);
std::string to_string(const MStatus& s);
std::string to_string(const RStatus& s);
std::string to_string(const BollingerBandsStatus& s);
std::string to_string(const VolumeStatus& s);

}  // namespace quorvel::indicators
