#pragma once
// Bar rows as compact JSON for the LLM.
#include <string>

#include "contracts/bar_table.h"

namespace tarnel {

// [{"Date":"YYYY-MM-DD", column: value, ...}, ...] in column order. Volumes ("volume", "amount",
// "Volume_MA") are whole numbers, every other value is rounded to 3 decimals; NaN is null.
std::string rows_to_json(const BarTable& rows);

}  // namespace tarnel
