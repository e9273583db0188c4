#include "tarnel/weekly_bars.h"

#include <algorithm>
#include <cmath>

#include "contracts/dates.h"

namespace tarnel {

namespace {

// Number of the Monday-to-Sunday week holding `d`.
long week_of(Date d) { return long(std::floor((double(d.time_since_epoch().count()) + 3.0) / 7.0)); }

double nan_sum(double acc, double v) {
  if (std::isnan(v)) return acc;
  return std::isnan(acc) ? v : acc + v;
}

}  // namespace

BarTable weekly_bars(const BarTable& daily) {
  BarTable out = BarTable::with_base_columns();
  if (daily.empty()) return out;
  const auto& idx = daily.index();
  const auto& open = daily.column("open");
  const auto& high = daily.column("high");
  const auto& low = daily.column("low");
  const auto& close = daily.column("close");
  const auto& volume = daily.column("volume");
  const bool has_amount = daily.has_column("amount");
  const std::vector<double> no_amount(idx.size(), std::nan(""));
  const auto& amount = has_amount ? daily.column("amount") : no_amount;

  std::size_t i = 0;
  while (i < idx.size()) {
    const long week = week_of(idx[i]);
    std::size_t end = i;
    double hi = high[i], lo = low[i], vol = 0.0, amt = std::nan("");
    while (end < idx.size() && week_of(idx[end]) == week) {
      hi = std::max(hi, high[end]);
      lo = std::min(lo, low[end]);
      vol = nan_sum(vol, volume[end]);
      amt = nan_sum(amt, amount[end]);
      ++end;
    }
    out.append_row(idx[end - 1], {open[i], hi, lo, close[end - 1], vol, amt});
    i = end;
  }
  return out;
}

}  // namespace tarnel
