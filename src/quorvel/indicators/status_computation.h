#pragma once
// Reads the indicator status records from the last row of a bar table. Each family function adds
// its indicator columns through the market-data service when the family's marker column is missing
// (the table passed in is changed); get_stock_status works on its own copy. Nothing is caught here:
// service errors and last-row reads of an empty table propagate.
//
// Thread-safety: no state of its own; do not run family functions on one shared table at once.
#include <string>

#include "contracts/bar_table.h"
#include "quorvel/indicators/stock_status.h"

namespace quorvel::indicators {

// A ValueError for any type other than EMA, before the table is touched.
MAStatus get_ma_status(tarnel::BarTable& df, MA_Type ma_type = MA_Type::EMA);
MStatus get_macd_status(tarnel::BarTable& df);
RStatus get_rsi_status(tarnel::BarTable& df);
BollingerBandsStatus get_boll_status(tarnel::BarTable& df);
VolumeStatus get_volume_status(tarnel::BarTable& df);
StockStatus get_stock_status(const tarnel::BarTable& df, const std::string& code);

}  // namespace quorvel::indicators
