#pragma once
// A market's trading days: within the span of the known trading-day list, a day trades exactly when
// it is listed; outside it, every weekday counts as trading. Immutable after construction, so it
// may be shared between threads.
#include <vector>

#include "contracts/bar_table.h"

namespace tarnel {

class TradingCalendar {
 public:
  TradingCalendar() = default;
  explicit TradingCalendar(std::vector<Date> trading_days);  // any order, duplicates allowed

  bool is_trading_day(Date d) const;
  // The latest trading day at or before `d`.
  Date last_trading_day_at_or_before(Date d) const;
  bool empty() const { return days_.empty(); }
  // Whether `d` lies after the last listed day (where weekdays only are assumed to trade).
  bool beyond_list(Date d) const { return !days_.empty() && d > days_.back(); }
  Date last_listed() const { return days_.back(); }  // requires !empty()
  // Trading days in [first, last], oldest first.
  std::vector<Date> trading_days(Date first, Date last) const;

 private:
  std::vector<Date> days_;  // sorted, unique
};

}  // namespace tarnel
