#pragma once
// The analysis date moved to the last bar the data really has, and the day's change in percent.
// Logs the calibration and the data-status lines.
#include <string>

#include "contracts/bar_table.h"

namespace quorvel::strategy::ai {

struct AlignedDate {
  std::string a_time;               // "YYYY-MM-DD" of the analysis after alignment
  std::string pct_change = "0.00";  // change against the previous close, percent, sign always shown
};

// A change in percent with its sign and two decimals: "+1.23", "-0.50", "+0.00".
std::string signed_percent(double change);

// `requested` is the wanted analysis date; `current_price` is the instrument's price (quote
// currency). An empty table keeps the date and the change "0.00"; a previous close of zero or a
// single bar keeps the change "0.00".
AlignedDate align_analysis_date(const tarnel::BarTable& daily, double current_price, const std::string& requested);

}  // namespace quorvel::strategy::ai
