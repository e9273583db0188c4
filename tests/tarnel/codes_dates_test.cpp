#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "contracts/dates.h"
#include "tarnel/instrument_code.h"
#include "tarnel/trading_calendar.h"

namespace tarnel {
namespace {

TEST(InstrumentCode, CanonicalFormsOfEveryMarket) {
  const struct {
    const char* raw;
    const char* code;
    Market market;
  } rows[] = {
      {"sh.600000", "sh.600000", Market::A}, {"SZ.000001", "sz.000001", Market::A}, {"bj.430047", "bj.430047", Market::A},
      {" hk.700 ", "hk.00700", Market::HK},  {"HK.hsi", "hk.HSI", Market::HK},     {"us.aapl", "us.AAPL", Market::US},
      {"us.BRK.B", "us.BRK.B", Market::US},  {"510050", "510050", Market::ETF},    {"etf.159915", "159915", Market::ETF},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.raw);
    const InstrumentCode c = parse_instrument_code(row.raw);
    EXPECT_EQ(c.code, row.code);
    EXPECT_EQ(c.market, row.market);
  }
  EXPECT_EQ(fund_code_of("sh.510050"), "510050");
  EXPECT_EQ(fund_code_of("sz.159915"), "159915");
  EXPECT_EQ(fund_code_of("sh.600000"), "");
}

TEST(InstrumentCode, MalformedCodesNeverPass) {
  for (const char* raw : {"", "600000x", "sh.60000", "sh.6000000", "sh.60000a", "xx.600000", "hk.123456", "hk.",
                          "us.", "us.1ABC", "us.TOOLONGTICKER", "sh.600000'; DROP TABLE bars;--", "../../etc/passwd",
                          "us.A/B", "hk.H$I", "etf.5100"}) {
    SCOPED_TRACE(raw);
    try {
      parse_instrument_code(raw);
      ADD_FAILURE() << "accepted";
    } catch (const quorvel::ValueError& e) {
      EXPECT_NE(std::string(e.what()).find(raw), std::string::npos);
    }
  }
}

TEST(Dates, StrictIsoDatesOnly) {
  EXPECT_EQ(date_text(parse_date("2024-02-29")), "2024-02-29");
  for (const char* bad : {"2023-02-29", "2023-13-01", "2023-00-10", "2023-2-10", "20230210", "2023/02/10",
                          "2023-02-10 ", "2023-02-1a", "", "2023-04-31"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(try_parse_date(bad));
    EXPECT_THROW(parse_date(bad), quorvel::ValueError);
  }
  EXPECT_EQ(weekday_index(parse_date("2023-02-10")), 4);  // Friday
  EXPECT_TRUE(is_weekend(parse_date("2023-02-12")));
}

TEST(TradingCalendar, ListedSpanIsExactAndWeekdaysTradeBeyondIt) {
  const TradingCalendar cal({parse_date("2023-01-20"), parse_date("2023-01-19"), parse_date("2023-01-30"),
                             parse_date("2023-01-31")});
  EXPECT_TRUE(cal.is_trading_day(parse_date("2023-01-20")));
  EXPECT_FALSE(cal.is_trading_day(parse_date("2023-01-25")));  // holiday inside the list
  EXPECT_TRUE(cal.is_trading_day(parse_date("2023-02-01")));   // beyond the list, a weekday
  EXPECT_FALSE(cal.is_trading_day(parse_date("2023-02-04")));  // beyond the list, a Saturday
  EXPECT_EQ(date_text(cal.last_trading_day_at_or_before(parse_date("2023-01-27"))), "2023-01-20");
  EXPECT_EQ(date_text(cal.last_trading_day_at_or_before(parse_date("2023-02-05"))), "2023-02-03");
  EXPECT_EQ(date_text(cal.last_trading_day_at_or_before(parse_date("2023-01-15"))), "2023-01-13");
  EXPECT_EQ(date_text(TradingCalendar().last_trading_day_at_or_before(parse_date("2023-01-01"))), "2022-12-30");
}

}  // namespace
}  // namespace tarnel
