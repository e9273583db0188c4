#pragma once
// In-memory market data for tests: tables and names set by the test, indicator columns computed by
// the real technical functions, and a count of every indicator call.
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "contracts/market_data.h"

namespace tarnel {
class LocalMarketData;
}

namespace quorvel::testing {

class FakeMarketData : public tarnel::MarketData {
 public:
  std::map<std::string, tarnel::BarTable> bars;
  std::map<std::string, std::string> names;
  std::map<std::string, int> lots;  // code -> shares per board lot
  std::map<std::string, int> calls;  // operation name -> number of calls

  tarnel::BarTable get_any_ohlc(const std::string& code, const std::string& start, const std::string& end) override;
  tarnel::BarTable get_index_ohlc(const tarnel::MarketIndex& index, const std::string& end_date) override;
  std::string get_default_start_date() override { return "2015-01-01"; }
  std::string get_name_from_code(const std::string& code) override;
  std::optional<int> board_lot(const std::string& code) override;
  std::string normalize_market_end_date(const std::string& date) override { return date; }
  std::string normalize_us_market_end_date(const std::string& date) override { return date; }
  std::string normalize_hk_market_end_date(const std::string& date) override { return date; }
  // Weekdays, as a calendar without holidays.
  int count_trading_days(const std::string& market, const std::string& after, const std::string& through) override;
  tarnel::BarTable generate_weekly_tarnel(const tarnel::BarTable& daily) override;
  std::string tarnel_to_json(const tarnel::BarTable& rows) override;
  void set_ema(tarnel::BarTable& df) override;
  void set_macd(tarnel::BarTable& df) override;
  void set_rsi(tarnel::BarTable& df, int period) override;
  void set_boll(tarnel::BarTable& df) override;
  void set_volume(tarnel::BarTable& df) override;
  void set_kdj(tarnel::BarTable& df) override;

  int total_indicator_calls() const;
};

// Builds bar tables row by row: BarsBuilder().day("2023-02-10", o, h, l, c, v).build().
class BarsBuilder {
 public:
  BarsBuilder& day(const std::string& date, double open, double high, double low, double close, double volume,
                   double amount = 0.0);
  // `n` synthetic trading days (weekdays) from `first`, a gentle zig-zag around `base`.
  BarsBuilder& series(const std::string& first, int n, double base = 10.0);
  tarnel::BarTable build() const { return table_; }

 private:
  tarnel::BarTable table_ = tarnel::BarTable::with_base_columns();
};

// The real bars of a bundled instrument file (data/bars/...), read straight from the CSV.
tarnel::BarTable bundled_bars(const std::string& relative_file);

// The local market-data service over the bundled data (split-adjusted series, names, lots,
// calendars), loaded once per test process into a temporary store that lives until it ends.
std::shared_ptr<tarnel::LocalMarketData> bundled_market_data();

}  // namespace quorvel::testing
