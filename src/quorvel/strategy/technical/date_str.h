#pragma once
// Date text of one row of a bar table.
#include <string>

#include "contracts/bar_table.h"

namespace quorvel::strategy::technical {

// "YYYY-MM-DD" of the bar at position `idx`; empty text when `idx` lies outside the table. The table
// is indexed by trading date, so the index label is always a date.
std::string _get_date_str(const tarnel::BarTable& df, long long idx);

}  // namespace quorvel::strategy::technical
