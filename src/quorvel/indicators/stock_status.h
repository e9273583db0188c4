#pragma once
// The indicator snapshot of one instrument on one analysis date.
#include <optional>
#include <string>

#include "quorvel/indicators/status_records.h"

namespace quorvel::indicators {

struct StockStatus {
  std::string code;  // instrument code such as sh.600000
  std::string name;  // display name; empty when unknown
  Num price = 0;     // last close, quote currency
  std::optional<MStatus> macd_status;
  std::optional<RStatus> rsi_status;
  std::optional<BollingerBandsStatus> boll_status;
  std::optional<VolumeStatus> volume_status;
  std::optional<MAStatus> ma_status;

  StockStatus() = default;
  explicit StockStatus(std::string code_) : code(std::move(code_)) {}
};

std::string to_string(const StockStatus& s);

}  // namespace quorvel::indicators
