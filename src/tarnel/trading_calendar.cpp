#include "tarnel/trading_calendar.h"

#include <algorithm>

#include "contracts/dates.h"

namespace tarnel {

TradingCalendar::TradingCalendar(std::vector<Date> trading_days) : days_(std::move(trading_days)) {
  std::sort(days_.begin(), days_.end());
  days_.erase(std::unique(days_.begin(), days_.end()), days_.end());
}

bool TradingCalendar::is_trading_day(Date d) const {
  if (days_.empty() || d < days_.front() || d > days_.back()) return !is_weekend(d);
  return std::binary_search(days_.begin(), days_.end(), d);
}

Date TradingCalendar::last_trading_day_at_or_before(Date d) const {
  if (!days_.empty() && d >= days_.front() && d <= days_.back())
    return *std::prev(std::upper_bound(days_.begin(), days_.end(), d));
  // Beyond the list: step back over weekends, then, once inside the list, use it.
  while (days_.empty() || d > days_.back()) {
    if (!is_weekend(d)) return d;
    d -= date::days{1};
  }
  if (d < days_.front()) {
    while (is_weekend(d)) d -= date::days{1};
    return d;
  }
  return *std::prev(std::upper_bound(days_.begin(), days_.end(), d));
}

std::vector<Date> TradingCalendar::trading_days(Date first, Date last) const {
  std::vector<Date> out;
  for (Date d = first; d <= last; d += date::days{1})
    if (is_trading_day(d)) out.push_back(d);
  return out;
}

}  // namespace tarnel
