#pragma once
// The steps of one instrument's analysis that the single-instrument and the watchlist commands
// share: the trading day an analysis is for, what the analysis needs before the market brief, and
// the closing delivery of the report store's queue.
#include <optional>
#include <string>

#include "contracts/bar_table.h"
#include "quorvel/indicators/stock_status.h"

namespace quorvel {

// The last closed trading day at or before `date` ("YYYY-MM-DD") for the instrument's market: US
// codes by the New York close, every other code by the Shanghai close. A ValueError for a malformed
// or impossible date.
std::string market_end_date(const std::string& stock_code, const std::string& date);

// What the analysis needs before the market brief: instrument, bars, status and the technical
// screen's pattern information. `df` is empty when the instrument has no bars (nothing else is
// filled then).
struct PreparedStock {
  std::string stock_name;
  std::optional<std::string> market_type;
  tarnel::BarTable df;
  indicators::StockStatus stock_status;
  std::string pattern_info;
  std::string selector_source;
};

// The instrument's display name, or the empty text when the lookup fails (logged).
std::string name_or_empty(const std::string& stock_code);

// Reads the store and the market data and runs the technical screen; blocking, so it runs on a
// worker thread. Failures of the data services propagate.
PreparedStock prepare_stock(const std::string& stock_code, const std::string& analysis_time);

// Delivers the report store's pending messages; a failure is only logged (debug).
void flush_store();

}  // namespace quorvel
