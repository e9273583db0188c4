#pragma once
// The clock service: everything that needs "now" or "today" asks it, so tests can pin the time.
#include <chrono>

#include <date/date.h>

#include "contracts/service.h"

namespace quorvel {

class Clock {
 public:
  static constexpr const char* kServiceName = "clock";
  virtual ~Clock() = default;

  // Current instant (UTC based).
  virtual std::chrono::system_clock::time_point now() const = 0;
  // Today's date in the process's local time zone (the TZ environment variable, else the system's).
  virtual date::year_month_day today_local() const = 0;

  static Clock& default_instance();
};

// The real clock of the machine.
class SystemClock final : public Clock {
 public:
  std::chrono::system_clock::time_point now() const override;
  date::year_month_day today_local() const override;
};

// A clock that always answers the same instant; the local date is given separately so a test can
// pin both without depending on the machine's time zone.
class FixedClock final : public Clock {
 public:
  FixedClock(std::chrono::system_clock::time_point now, date::year_month_day today)
      : now_(now), today_(today) {}
  std::chrono::system_clock::time_point now() const override { return now_; }
  date::year_month_day today_local() const override { return today_; }

 private:
  std::chrono::system_clock::time_point now_;
  date::year_month_day today_;
};

inline Clock& clock() { return Service<Clock>::current(); }

}  // namespace quorvel
