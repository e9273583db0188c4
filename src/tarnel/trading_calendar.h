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

 private:
  std::vector<Date> days_;  // sorted, unique
};

}  // namespace tarnel
