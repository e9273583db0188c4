#pragma once
// The ledger report as "table" (aligned Chinese headings for a terminal), "csv" or "json".
// Every format shows the same rounded numbers: R to 2 decimals, rates as percent to 1 decimal,
// returns as percent to 2 decimals, sessions to 1 decimal. A figure that is absent prints as "-"
// in the table, as an empty cell in CSV and as null in JSON.
// - csv: one header; a row per group (dimension, value, ...), then the two baseline rows
//   (dimension "baseline", value "plan" and "naive"), then the calibration rows (dimension
//   "calibration", value 高/中/低); cells a row does not have are empty.
// - json: {"groups": [...], "baseline": {"days", "plan", "naive"}, "calibration": [...]}.
// Pure; thread-safe.
#include <ostream>
#include <string>

#include "quorvel/ledger/ledger_stats.h"

namespace quorvel::ledger {

// Any format other than "csv" and "json" prints the table.
void print_ledger_report(std::ostream& out, const LedgerReport& report, const std::string& format);

}  // namespace quorvel::ledger
