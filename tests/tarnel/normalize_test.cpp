#include <gtest/gtest.h>

#include <date/tz.h>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "quorvel/utils/environment.h"
#include "support/test_support.h"
#include "contracts/dates.h"
#include "tarnel/local_market_data.h"

namespace tarnel {
namespace {

// A clock pinned to a wall-clock time in a market's own time zone.
std::shared_ptr<quorvel::Clock> clock_at(const char* zone, const char* day, int hour, int minute) {
  const auto local = date::local_days{parse_date(day).time_since_epoch()} + std::chrono::hours(hour) +
                     std::chrono::minutes(minute);
  const auto instant = date::make_zoned(date::locate_zone(zone), local).get_sys_time();
  return std::make_shared<quorvel::FixedClock>(instant, date::year_month_day{parse_date(day)});
}

class Normalize : public ::testing::Test {
 protected:
  quorvel::testing::TempDir dir;
  LocalMarketData data{dir / "s.sqlite", quorvel::get_project_root() / "data"};
};

TEST_F(Normalize, AShareDatesStepBackToTheLastClosedTradingDay) {
  quorvel::Service<quorvel::Clock>::Guard clock(clock_at("Asia/Shanghai", "2026-12-08", 20, 0));
  const struct {
    const char* in;
    const char* out;
  } rows[] = {
      {"2023-02-10", "2023-02-10"},  // a Friday session
      {"2023-02-12", "2023-02-10"},  // Sunday
      {"2023-01-25", "2023-01-20"},  // Spring Festival week
      {"2022-10-07", "2022-09-30"},  // National Day week
      {"2026-10-02", "2026-09-30"},  // holiday in the published calendar beyond the bars
      {"2026-12-08", "2026-12-08"},  // today after the close
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.in);
    EXPECT_EQ(data.normalize_market_end_date(row.in), row.out);
  }
  EXPECT_THROW(data.normalize_market_end_date("2023-13-01"), quorvel::ValueError);
  EXPECT_THROW(data.normalize_market_end_date("2023-02-30"), quorvel::ValueError);
  EXPECT_THROW(data.normalize_market_end_date("garbage"), quorvel::ValueError);
}

TEST_F(Normalize, TodayBeforeTheCloseIsNotClosedYet) {
  {
    quorvel::Service<quorvel::Clock>::Guard clock(clock_at("Asia/Shanghai", "2026-12-08", 14, 59));
    EXPECT_EQ(data.normalize_market_end_date("2026-12-08"), "2026-12-07");
    EXPECT_EQ(data.normalize_market_end_date("2026-12-09"), "2026-12-07");  // later than the market's today
  }
  {
    quorvel::Service<quorvel::Clock>::Guard clock(clock_at("Asia/Shanghai", "2026-12-07", 9, 30));  // Monday
    EXPECT_EQ(data.normalize_market_end_date("2026-12-07"), "2026-12-04");
  }
}

TEST_F(Normalize, UsDatesUseNewYorkHoursAndTheNyseCalendar) {
  {
    quorvel::Service<quorvel::Clock>::Guard clock(clock_at("America/New_York", "2026-12-08", 17, 0));
    EXPECT_EQ(data.normalize_us_market_end_date("2022-07-04"), "2022-07-01");  // Independence Day
    EXPECT_EQ(data.normalize_us_market_end_date("2022-11-24"), "2022-11-23");  // Thanksgiving
    EXPECT_EQ(data.normalize_us_market_end_date("2022-12-30"), "2022-12-30");
    EXPECT_EQ(data.normalize_us_market_end_date("2026-12-08"), "2026-12-08");
  }
  {
    quorvel::Service<quorvel::Clock>::Guard clock(clock_at("America/New_York", "2026-12-08", 15, 59));
    EXPECT_EQ(data.normalize_us_market_end_date("2026-12-08"), "2026-12-07");
  }
  EXPECT_THROW(data.normalize_us_market_end_date("2022-02-29"), quorvel::ValueError);
}

}  // namespace
}  // namespace tarnel
