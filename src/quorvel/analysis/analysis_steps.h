#pragma once
// The steps of one instrument's analysis that the single-instrument and the watchlist commands
// share: the trading day an analysis is for, what the analysis needs before the market brief, and
// the closing delivery of the report store's queue.
#include <optional>
#include <string>

#include "contracts/bar_table.h"
#include "quorvel/runtime/command_dates.h"
#include "quorvel/indicators/stock_status.h"

namespace quorvel {

// The last closed trading day at or before `date` ("YYYY-MM-DD") on the calendar and at the close of
// the instrument's market: Shanghai for A-shares and funds, Hong Kong for hk. codes, New York for
// us. codes. A ValueError for a malformed or impossible date.
std::string market_end_date(const std::string& stock_code, const std::string& date);

// The code an analysis keys everything by: the canonical spelling (utils/instrument_code.h). A
// ValueError naming the prefixed code for a bare six-digit number that is no fund the store knows
// but an A-share stock number ("600519": sh.600519 was meant). Reads the store.
std::string analysis_code(const std::string& raw);
// The check of analysis_code for a canonical `code` whose display name was read already.
void refuse_bare_stock_number(const std::string& code, const std::string& name);

// The one day an analysis is about: the instrument's last bar on or before the requested day. The
// skip check, the claim, the stored records, the files, the messages and the market brief all use
// `date`.
struct AnalysisDay {
  std::string requested;  // the requested day, moved to the market's last closed session
  std::string date;       // the last bar on or before it; `requested` when there is no bar
  int sessions_behind = 0;  // trading days of the market after `date` up to `requested`
  bool stale() const { return sessions_behind > STALE_SESSIONS; }
  // For a stale day, the sentence a trader and the model read; empty otherwise.
  std::string note() const;
};

// Reads the instrument's bars up to `requested` (already a closed session of its market); logs the
// calibration when the last bar is earlier, and warns naming both days when it is stale. Blocking.
AnalysisDay analysis_day(const std::string& stock_code, const std::string& requested);

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
  std::string data_note;  // AnalysisDay::note(), for the stored report's header
};

// The instrument's display name, or the empty text when the lookup fails (logged).
std::string name_or_empty(const std::string& stock_code);

// Reads the store and the market data and runs the technical screen; blocking, so it runs on a
// worker thread. Failures of the data services propagate.
// A stale `day` is told to the model as the member "data_notes" of the pattern information, the
// splits and bonus issues a raw series was adjusted for as "corporate_actions".
PreparedStock prepare_stock(const std::string& stock_code, const AnalysisDay& day);

// Delivers the report store's pending messages; a failure is only logged (debug).
void flush_store();

}  // namespace quorvel
