#include "quorvel/command_dates.h"

#include "contracts/clock.h"
#include "tarnel/dates.h"

namespace quorvel {

std::string today_text() { return tarnel::date_text(tarnel::Date{clock().today_local()}); }

bool is_future_date(const std::string& date_text) {
  return tarnel::parse_date(date_text) > tarnel::Date{clock().today_local()};
}

}  // namespace quorvel
