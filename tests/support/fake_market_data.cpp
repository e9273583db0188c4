#include "support/fake_market_data.h"

#include "quorvel/utils/environment.h"
#include "support/test_support.h"
#include "tarnel/csv_bars.h"
#include "tarnel/local_market_data.h"
#include "contracts/dates.h"
#include "tarnel/rows_json.h"
#include "tarnel/technical.h"
#include "tarnel/weekly_bars.h"

namespace quorvel::testing {

tarnel::BarTable FakeMarketData::get_any_ohlc(const std::string& code, const std::string& start,
                                              const std::string& end) {
  calls["get_any_ohlc"]++;
  const auto it = bars.find(code);
  if (it == bars.end()) return tarnel::BarTable::with_base_columns();
  return it->second.slice(tarnel::parse_date(start), tarnel::parse_date(end));
}

tarnel::BarTable FakeMarketData::get_index_ohlc(const tarnel::MarketIndex& index, const std::string& end_date) {
  return get_any_ohlc(std::string(index.code), "1990-01-01", end_date);
}

std::string FakeMarketData::get_name_from_code(const std::string& code) {
  calls["get_name_from_code"]++;
  const auto it = names.find(code);
  return it == names.end() ? "" : it->second;
}

std::optional<int> FakeMarketData::board_lot(const std::string& code) {
  const auto it = lots.find(code);
  return it == lots.end() ? std::nullopt : std::optional<int>(it->second);
}

tarnel::BarTable FakeMarketData::generate_weekly_tarnel(const tarnel::BarTable& daily) {
  return tarnel::weekly_bars(daily);
}
std::string FakeMarketData::tarnel_to_json(const tarnel::BarTable& rows) { return tarnel::rows_to_json(rows); }

void FakeMarketData::set_ema(tarnel::BarTable& df) {
  calls["set_ema"]++;
  tarnel::technical::set_ema(df);
}
void FakeMarketData::set_macd(tarnel::BarTable& df) {
  calls["set_macd"]++;
  tarnel::technical::set_macd(df);
}
void FakeMarketData::set_rsi(tarnel::BarTable& df, int period) {
  calls["set_rsi"]++;
  calls["set_rsi(" + std::to_string(period) + ")"]++;
  tarnel::technical::set_rsi(df, period);
}
void FakeMarketData::set_boll(tarnel::BarTable& df) {
  calls["set_boll"]++;
  tarnel::technical::set_boll(df);
}
void FakeMarketData::set_volume(tarnel::BarTable& df) {
  calls["set_volume"]++;
  tarnel::technical::set_volume(df);
}
void FakeMarketData::set_kdj(tarnel::BarTable& df) {
  calls["set_kdj"]++;
  tarnel::technical::set_kdj(df);
}

int FakeMarketData::total_indicator_calls() const {
  int n = 0;
  for (const char* op : {"set_ema", "set_macd", "set_rsi", "set_boll", "set_volume", "set_kdj"})
    if (auto it = calls.find(op); it != calls.end()) n += it->second;
  return n;
}

BarsBuilder& BarsBuilder::day(const std::string& date, double open, double high, double low, double close,
                              double volume, double amount) {
  table_.append_row(tarnel::parse_date(date), {open, high, low, close, volume, amount});
  return *this;
}

BarsBuilder& BarsBuilder::series(const std::string& first, int n, double base) {
  tarnel::Date d = tarnel::parse_date(first);
  for (int i = 0; i < n; ++i) {
    while (tarnel::is_weekend(d)) d += date::days{1};
    const double c = base + (i % 7) * 0.1 - (i % 3) * 0.05;
    table_.append_row(d, {c - 0.05, c + 0.1, c - 0.1, c, 1000.0 + 10.0 * (i % 5), 10000.0});
    d += date::days{1};
  }
  return *this;
}

tarnel::BarTable bundled_bars(const std::string& relative_file) {
  const auto csv = tarnel::read_bar_csv(get_project_root() / "data" / relative_file);
  tarnel::BarTable t = tarnel::BarTable::with_base_columns();
  for (const auto& r : csv.rows) t.append_row(r.date, {r.open, r.high, r.low, r.close, r.volume, r.amount});
  return t;
}

int FakeMarketData::count_trading_days(const std::string&, const std::string& after, const std::string& through) {
  const tarnel::Date first = tarnel::parse_date(after), last = tarnel::parse_date(through);
  int n = 0;
  for (tarnel::Date d = first + date::days{1}; d <= last; d += date::days{1})
    if (date::weekday(d) != date::Saturday && date::weekday(d) != date::Sunday) ++n;
  return n;
}

std::shared_ptr<tarnel::LocalMarketData> bundled_market_data() {
  static TempDir dir;
  static const auto data = std::make_shared<tarnel::LocalMarketData>(dir / "s.sqlite", get_project_root() / "data");
  return data;
}

}  // namespace quorvel::testing
