#include "contracts/clock.h"

#include <ctime>

namespace quorvel {

Clock& Clock::default_instance() {
  static SystemClock clock;
  return clock;
}

std::chrono::system_clock::time_point SystemClock::now() const { return std::chrono::system_clock::now(); }

date::year_month_day SystemClock::today_local() const {
  const std::time_t t = std::chrono::system_clock::to_time_t(now());
  std::tm local{};
  localtime_r(&t, &local);
  return date::year{local.tm_year + 1900} / unsigned(local.tm_mon + 1) / unsigned(local.tm_mday);
}

}  // namespace quorvel
