#include "tarnel/price_precision.h"

#include "quorvel/utils/number_text.h"
#include "tarnel/rows_json.h"

namespace tarnel {

int price_decimals_of(const std::vector<BarRow>& rows) {
  BarTable prices;
  for (const char* name : {"open", "high", "low", "close"}) prices.set_column(name, {});
  prices.reserve(rows.size());
  for (const auto& r : rows) prices.append_row(r.date, {r.open, r.high, r.low, r.close});
  return price_decimals(prices);
}

void round_prices(std::vector<BarRow>& rows, int decimals) {
  for (auto& r : rows)
    for (double* v : {&r.open, &r.high, &r.low, &r.close}) *v = quorvel::round_half_even(*v, decimals);
}

std::vector<BarRow> with_rounded_prices(std::vector<BarRow> rows) {
  round_prices(rows, price_decimals_of(rows));
  return rows;
}

}  // namespace tarnel
