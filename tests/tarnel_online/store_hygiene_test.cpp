// Store hygiene and calendars: float noise rounded on every write and cleaned once from an existing
// store; shipped trading-day lists, their refresh, and the warning beyond a list.
#include <gtest/gtest.h>

#include "online_fixture.h"
#include "tarnel/data_import.h"

namespace tarnel::online {
namespace {

using StoreHygiene = OnlineFixture;

TEST_F(StoreHygiene, PricesAreRoundedToTheirPrecisionOnWrite) {
  const auto csv = temp_ / "hk.00700.csv";
  quorvel::testing::write_file(csv,
                               "date,open,high,low,close,volume,amount\n"
                               "2023-01-03,383.3999938964844,390.0,380.20001220703125,388.6000061035156,100,\n"
                               "2023-01-04,388.6000061035156,392.79998779296875,386.0,391.0,100,\n");
  BarStore store(local_->store_file());
  import_bar_file(store, "hk.00700", csv);
  const BarTable t = store.load("hk.00700", d("2023-01-01"), d("2023-01-31"));
  struct Row {
    const char* column;
    std::size_t row;
    double value;
  };
  for (const Row& r : std::vector<Row>{{"open", 0, 383.4}, {"low", 0, 380.2}, {"close", 0, 388.6}, {"high", 1, 392.8}}) {
    SCOPED_TRACE(std::string(r.column) + std::to_string(r.row));
    EXPECT_EQ(t.at(r.column, r.row), r.value);  // exactly the double of the decimal text
  }
  EXPECT_EQ(store.series("hk.00700")->adjustment, "unknown");
}

TEST_F(StoreHygiene, MigrationCleansAnExistingStoreOnce) {
  {
    BarStore store(local_->store_file());
    store.db().exec(
        "INSERT INTO bars VALUES('hk.00700', 19360, 383.3999938964844, 390.0, 380.20001220703125, 388.6000061035156, "
        "100, NULL);"
        "INSERT INTO bars VALUES('us.AAPL', 19360, 125.07, 125.27, 124.17, 125.0700001, 100, NULL);"
        "DELETE FROM meta WHERE key = 'migration.price_noise_cleaned';");
  }
  BarStore reopened(local_->store_file());
  const Date day{date::days{19360}};
  EXPECT_EQ(reopened.load("hk.00700", day, day).at("open", 0), 383.4);
  EXPECT_EQ(reopened.load("us.AAPL", day, day).at("close", 0), 125.07);
  EXPECT_EQ(reopened.meta("migration.price_noise_cleaned"), "2 rows");
}

TEST_F(StoreHygiene, ShippedCalendarsAndTheirRefresh) {
  struct Row {
    const char* market;
    const char* day;
    bool trading;
  };
  const std::vector<Row> rows{
      {"HK", "2026-02-17", false}, {"HK", "2026-02-20", true},  {"HK", "2025-10-07", false},
      {"HK", "2023-09-08", false}, {"US", "2025-01-09", false}, {"US", "2027-03-26", false},
      {"US", "2026-07-03", false}, {"US", "2026-12-24", true},  {"A", "2026-10-07", false}, {"A", "2026-10-08", true},
      {"A", "2027-01-01", false},  {"A", "2027-02-05", false}, {"A", "2027-02-12", false}, {"A", "2027-02-15", true},
      {"A", "2027-04-05", false},  {"A", "2027-04-30", true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.market) + " " + r.day);
    EXPECT_EQ(local_->trading_calendar(r.market).is_trading_day(d(r.day)), r.trading);
  }
  const auto hk = temp_ / "data" / "calendars" / "hkex_trading_days.csv";
  quorvel::testing::write_file(hk, quorvel::testing::read_file(hk) + "2027-01-04\n");
  BarStore store(local_->store_file());
  refresh_bundled_calendars(store, temp_ / "data");
  EXPECT_EQ(store.calendar_days("HK").back(), d("2027-01-04"));
}

TEST_F(StoreHygiene, WarnsOnceForADateBeyondTheList) {
  quorvel::Service<quorvel::Clock>::Guard later(std::make_shared<quorvel::FixedClock>(
      date::sys_days{date::year{2027} / 5 / 7} + std::chrono::hours(10), date::year{2027} / 5 / 7));
  quorvel::testing::LogCapture log;
  EXPECT_EQ(local_->normalize_market_end_date("2027-04-30"), "2027-04-30");
  EXPECT_EQ(local_->normalize_market_end_date("2027-05-07"), "2027-05-07");
  local_->normalize_market_end_date("2027-05-06");
  std::size_t warnings = 0;
  for (const auto& line : log.lines()) warnings += line.find("交易日历只到 2027-04-30") != std::string::npos;
  EXPECT_EQ(warnings, 1u);
}

}  // namespace
}  // namespace tarnel::online
