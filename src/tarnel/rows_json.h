#pragma once
// Bar rows as compact JSON for the LLM:
//   {"columns":["Date","open",...],"rows":[["2023-02-10",1790.0,...],...]}
// One header list and one array per row keeps the text about a third of an array of row objects.
#include <string>
#include <vector>

#include "contracts/bar_table.h"
#include "quorvel/utils/price_decimals.h"

namespace tarnel {

// The columns the prompt's data guide explains, in the order they are written ("Date" is the row's
// date, not a table column). Other table columns are left out of the JSON.
const std::vector<std::string>& prompt_bar_columns();

using quorvel::price_decimals;  // quorvel/utils/price_decimals.h

// The rows in the compact layout above, with only the present prompt_bar_columns(). Prices and
// price levels (OHLC, EMAs, VWMA, bands, SAR) use price_decimals(); price differences (MACD family,
// ATR) the same, or more (at most 4) when the last ATR would otherwise show fewer than three
// significant digits; oscillators and ratios 2 decimals; volume and OBV whole numbers; a whole
// value is written without ".0"; NaN is null. "[]" when there are no rows.
std::string rows_to_json(const BarTable& rows);

}  // namespace tarnel
