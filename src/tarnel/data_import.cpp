#include "tarnel/data_import.h"

#include <fstream>
#include <map>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "contracts/dates.h"
#include "tarnel/instrument_code.h"

namespace tarnel {

namespace {

// Trading-day list files of the bundled data and the market each describes.
const std::map<std::string, std::string>& calendar_files() {
  static const std::map<std::string, std::string> files{
      {"sse_trading_days.csv", "A"}, {"nyse_trading_days.csv", "US"}, {"hkex_trading_days.csv", "HK"}};
  return files;
}

// Bars of a file; the instrument's series is marked as imported (of unknown adjustment), so that
// an online fill replaces it as a whole instead of mixing adjustments.
void add_bars(BarStore& store, const std::string& code, const std::filesystem::path& file, const char* source,
              ImportReport& report) {
  const CsvBars bars = read_bar_csv(file);
  store.put_series({code, source, "unknown", "", std::nullopt, std::nullopt});
  report.files += 1;
  report.rows_loaded += store.upsert_bars(code, bars.rows);
  report.rows_rejected += bars.rejected.size();
  report.messages.insert(report.messages.end(), bars.rejected.begin(), bars.rejected.end());
}

std::vector<Date> read_day_list(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) throw quorvel::RuntimeError(fmt::format("无法读取交易日历 {}", file.string()));
  std::vector<Date> days;
  std::string line;
  std::getline(in, line);  // header "date"
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    days.push_back(parse_date(line));
  }
  return days;
}

void add_instruments(BarStore& store, const std::filesystem::path& csv, ImportReport& report) {
  const InstrumentList list = read_instrument_csv(csv);
  report.rows_rejected += list.rejected.size();
  report.messages.insert(report.messages.end(), list.rejected.begin(), list.rejected.end());
  for (const auto& e : list.entries) {
    store.upsert_instrument(e);
    report.instruments += 1;
    if (!e.file.empty()) add_bars(store, e.code, csv.parent_path() / e.file, "import", report);
  }
}

void add_data_dir(BarStore& store, const std::filesystem::path& dir, ImportReport& report) {
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec))
    throw quorvel::RuntimeError(fmt::format("数据目录 {} 不存在或无法访问", dir.string()));
  add_instruments(store, dir / "instruments.csv", report);
  for (const auto& [name, market] : calendar_files()) {
    const auto file = dir / "calendars" / name;
    if (std::filesystem::exists(file, ec)) store.add_calendar_days(market, read_day_list(file));
  }
}

}  // namespace

ImportReport import_bar_file(BarStore& store, const std::string& raw_code, const std::filesystem::path& file) {
  const InstrumentCode code = parse_instrument_code(raw_code);
  ImportReport report;
  Transaction tx(store.db());
  if (!store.instrument(code.code)) {
    const std::string market(market_name(code.market));
    store.upsert_instrument({code.code, "", market, code.market == Market::ETF ? "etf" : "stock", ""});
    report.instruments += 1;
  }
  add_bars(store, code.code, file, "import", report);
  tx.commit();
  return report;
}

ImportReport import_instrument_file(BarStore& store, const std::filesystem::path& instruments_csv) {
  ImportReport report;
  Transaction tx(store.db());
  add_instruments(store, instruments_csv, report);
  tx.commit();
  return report;
}

ImportReport import_data_dir(BarStore& store, const std::filesystem::path& dir) {
  ImportReport report;
  Transaction tx(store.db());
  add_data_dir(store, dir, report);
  tx.commit();
  return report;
}

namespace {

// Instruments of the bundle the store has not received yet.
std::vector<InstrumentEntry> unreceived(BarStore& store, const InstrumentList& list) {
  std::vector<InstrumentEntry> out;
  for (const auto& e : list.entries)
    if (!store.bundled_received(e.code)) out.push_back(e);
  return out;
}

// Bundled instruments in the store whose lot the store lacks and the bundle gives (a store filled
// before the list had lots), with that lot; a lot the store knows is never replaced from here.
std::vector<InstrumentEntry> lots_to_fill(BarStore& store, const InstrumentList& list) {
  std::vector<InstrumentEntry> out;
  for (const auto& e : list.entries) {
    if (!e.lot) continue;
    auto stored = store.instrument(e.code);
    if (!stored || stored->lot) continue;
    stored->lot = e.lot;
    out.push_back(*stored);
  }
  return out;
}

}  // namespace

void refresh_bundled_calendars(BarStore& store, const std::filesystem::path& data_dir) {
  for (const auto& [name, market] : calendar_files()) {
    const auto file = data_dir / "calendars" / name;
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) continue;
    const std::string key = "calendar_file." + name, stamp = std::to_string(size);
    if (store.meta(key) == stamp) continue;
    Transaction tx(store.db());
    store.add_calendar_days(market, read_day_list(file));
    store.set_meta(key, stamp);
    tx.commit();
  }
}

std::size_t load_missing_bundled(BarStore& store, const std::filesystem::path& data_dir) {
  std::error_code ec;
  if (!std::filesystem::is_directory(data_dir, ec)) {
    // A store that has data works without the bundle; an empty one would have nothing to offer.
    if (store.instrument_count() > 0) return 0;
    throw quorvel::RuntimeError(fmt::format("数据目录 {} 不存在或无法访问", data_dir.string()));
  }
  refresh_bundled_calendars(store, data_dir);
  const auto csv = data_dir / "instruments.csv";
  const InstrumentList list = read_instrument_csv(csv);
  if (unreceived(store, list).empty() && lots_to_fill(store, list).empty()) return 0;
  // BEGIN IMMEDIATE serialises with a concurrent loader; re-check inside the transaction.
  Transaction tx(store.db());
  for (const auto& e : lots_to_fill(store, list)) store.upsert_instrument(e);
  const auto missing = unreceived(store, list);
  ImportReport report;
  for (const auto& e : missing) {
    if (!store.instrument(e.code)) {
      store.upsert_instrument(e);
      if (!e.file.empty()) add_bars(store, e.code, csv.parent_path() / e.file, "bundled", report);
    }
    store.mark_bundled_received(e.code);
  }
  tx.commit();
  return missing.size();
}

}  // namespace tarnel
