#include "quorvel/command_dates.h"

#include "contracts/clock.h"
#include "tarnel/dates.h"

namespace quorvel {

std::string today_text() { return tarnel::date_text(tarnel::Date{clock().today_local()}); }

bool is_future_date(const std::string& date_text) {
  // A far future date (year 2999) is still a future date, not a malformed one.
  if (const auto d = tarnel::try_parse_calendar_date(date_text); d && *d > tarnel::Date{clock().today_local()})
    return true;
  return tarnel::parse_date(date_text) > tarnel::Date{clock().today_local()};
}

}  // namespace quorvel
