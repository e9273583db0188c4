#include "tarnel/local_market_data.h"

#include <algorithm>
#include <chrono>

#include <date/tz.h>
#include <fmt/format.h>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "tarnel/corporate_actions.h"
#include "tarnel/data_import.h"
#include "contracts/dates.h"
#include "tarnel/instrument_code.h"
#include "tarnel/rows_json.h"
#include "tarnel/technical.h"
#include "tarnel/weekly_bars.h"

namespace tarnel {

// A connection borrowed from the pool for one operation.
class LocalMarketData::Lease {
 public:
  Lease(LocalMarketData& owner, std::unique_ptr<BarStore> store) : owner_(owner), store_(std::move(store)) {}
  Lease(Lease&&) = default;
  ~Lease() {
    if (!store_) return;
    std::lock_guard lock(owner_.pool_mutex_);
    owner_.pool_.push_back(std::move(store_));
  }
  BarStore* operator->() { return store_.get(); }
  BarStore& operator*() { return *store_; }

 private:
  LocalMarketData& owner_;
  std::unique_ptr<BarStore> store_;
};

LocalMarketData::LocalMarketData(std::filesystem::path store_file, std::filesystem::path bundled_data_dir)
    : store_file_(std::move(store_file)) {
  std::error_code ec;
  if (store_file_.has_parent_path()) std::filesystem::create_directories(store_file_.parent_path(), ec);
  auto store = std::make_unique<BarStore>(store_file_);
  load_missing_bundled(*store, bundled_data_dir);
  pool_.push_back(std::move(store));
}

LocalMarketData::Lease LocalMarketData::borrow() {
  {
    std::lock_guard lock(pool_mutex_);
    if (!pool_.empty()) {
      auto store = std::move(pool_.back());
      pool_.pop_back();
      return Lease(*this, std::move(store));
    }
  }
  return Lease(*this, std::make_unique<BarStore>(store_file_));
}

LocalMarketData::Stored LocalMarketData::stored_instrument(BarStore& store, const std::string& code) {
  const std::string canonical = parse_instrument_code(code).code;
  if (auto entry = store.instrument(canonical)) return {canonical, std::move(entry)};
  const std::string fund = fund_code_of(canonical);
  if (!fund.empty())
    if (auto entry = store.instrument(fund)) return {fund, std::move(entry)};
  return {canonical, std::nullopt};
}

std::string LocalMarketData::storage_code(const std::string& code) {
  Lease store = borrow();
  return stored_instrument(*store, code).code;
}

BarTable LocalMarketData::get_any_ohlc(const std::string& code, const std::string& start_date,
                                       const std::string& end_date) {
  const Date first = parse_date(start_date);
  const Date last = parse_date(end_date);
  Lease store = borrow();
  const quorvel::sqlite::ReadSnapshot snapshot(store->db());
  const Stored stored = stored_instrument(*store, code);
  if (first > last) return BarTable::with_base_columns();
  BarTable bars = load(*store, stored.code, first, last);
  if (needs_split_adjustment(*store, stored)) bars = adjust_for_corporate_actions(std::move(bars), stored.code);
  return bars;
}

void LocalMarketData::keep_series_in_memory(Date through) {
  std::lock_guard lock(memory_mutex_);
  memory_through_ = through;
  memory_.clear();
  memory_kept_ = true;
}

BarTable LocalMarketData::load(BarStore& store, const std::string& stored, Date first, Date last) {
  if (!memory_kept_) return store.load(stored, first, last);
  std::shared_ptr<const BarTable> series;
  {
    std::lock_guard lock(memory_mutex_);
    if (!memory_through_ || last > *memory_through_) return store.load(stored, first, last);
    const auto it = memory_.find(stored);
    if (it != memory_.end()) series = it->second;
  }
  if (!series) {
    auto loaded = std::make_shared<const BarTable>(store.load(stored, Date{date::days{0}}, *memory_through_));
    std::lock_guard lock(memory_mutex_);
    series = memory_.emplace(stored, std::move(loaded)).first->second;
  }
  return series->slice(first, last);
}

bool LocalMarketData::needs_split_adjustment(BarStore& store, const Stored& stored) {
  // Raw A-share and fund prices jump at a split or bonus issue; providers' adjusted series and other
  // markets do not need (or allow) the band test.
  const auto& entry = stored.entry;
  if (!entry || (entry->market != "A" && entry->market != "ETF") || entry->kind == "index") return false;
  const auto series = store.series(stored.code);
  return !series || series->adjustment == "none" || series->adjustment == "unknown";
}

BarTable LocalMarketData::get_index_ohlc(const MarketIndex& index, const std::string& end_date) {
  const Date last = parse_date(end_date);
  Lease store = borrow();
  return load(*store, std::string(index.code), Date{date::days{0}}, last);
}

std::string LocalMarketData::get_default_start_date() { return DEFAULT_HISTORY_START; }

std::string LocalMarketData::get_name_from_code(const std::string& code) {
  Lease store = borrow();
  const auto entry = stored_instrument(*store, code).entry;
  return entry ? entry->name : "";
}

std::optional<int> LocalMarketData::board_lot(const std::string& code) {
  Lease store = borrow();
  const auto entry = stored_instrument(*store, code).entry;
  return entry ? entry->lot : std::nullopt;
}

const TradingCalendar& LocalMarketData::trading_calendar(const std::string& requested) {
  const std::string market = requested == "ETF" ? "A" : requested;
  std::lock_guard lock(calendar_mutex_);
  for (const auto& [name, cal] : calendars_)
    if (name == market) return *cal;
  Lease store = borrow();
  std::vector<Date> days = store->calendar_days(market);
  const std::vector<Date> index_days = store->bar_dates(market, "index");
  days.insert(days.end(), index_days.begin(), index_days.end());
  calendars_.emplace_back(market, std::make_unique<TradingCalendar>(std::move(days)));
  return *calendars_.back().second;
}

void LocalMarketData::warn_if_beyond_calendar(const std::string& requested, Date d) {
  const std::string market = requested == "ETF" ? "A" : requested;
  const TradingCalendar& cal = trading_calendar(market);
  if (!cal.beyond_list(d)) return;
  std::lock_guard lock(calendar_mutex_);
  if (std::find(warned_markets_.begin(), warned_markets_.end(), market) != warned_markets_.end()) return;
  warned_markets_.push_back(market);
  quorvel::logger.warning("%s 市场的交易日历只到 %s，%s 在其之后：之后的周一至周五一律按交易日处理，节假日可能被误当作交易日",
                          market, date_text(cal.last_listed()), date_text(d));
}

namespace {

// Time zone and local closing time of each market's daily session; a bar is final after it.
struct SessionClose {
  const char* zone;
  std::chrono::minutes close;
};

SessionClose session_close(const std::string& market) {
  using std::chrono::hours, std::chrono::minutes;
  if (market == "HK") return {"Asia/Hong_Kong", hours(16) + minutes(10)};  // closing auction ends ~16:10
  if (market == "US") return {"America/New_York", hours(16)};
  return {"Asia/Shanghai", hours(15)};
}

}  // namespace

std::string market_today(const std::string& market) {
  const auto local = date::make_zoned(date::locate_zone(session_close(market).zone), quorvel::clock().now()).get_local_time();
  return date_text(Date{date::floor<date::days>(local).time_since_epoch()});
}

std::string LocalMarketData::normalize_end_date(const std::string& text, const std::string& market) {
  Date d = parse_date(text);
  const SessionClose close = session_close(market);
  const auto local = date::make_zoned(date::locate_zone(close.zone), quorvel::clock().now()).get_local_time();
  const auto local_day = date::floor<date::days>(local);
  const Date today{local_day.time_since_epoch()};
  if (d >= today) {
    // Today's session (or a later one) has not produced a closed bar before the close.
    d = today;
    if (local - local_day < close.close) d -= date::days{1};
  }
  warn_if_beyond_calendar(market, d);
  return date_text(trading_calendar(market).last_trading_day_at_or_before(d));
}

std::string LocalMarketData::normalize_market_end_date(const std::string& date) {
  return normalize_end_date(date, "A");
}

std::string LocalMarketData::normalize_us_market_end_date(const std::string& date) {
  return normalize_end_date(date, "US");
}

std::string LocalMarketData::normalize_hk_market_end_date(const std::string& date) {
  return normalize_end_date(date, "HK");
}

int LocalMarketData::count_trading_days(const std::string& market, const std::string& after,
                                        const std::string& through) {
  const Date first = parse_date(after), last = parse_date(through);
  if (!(first < last)) return 0;
  return int(trading_calendar(market).trading_days(first + date::days{1}, last).size());
}

BarTable LocalMarketData::generate_weekly_tarnel(const BarTable& daily) { return weekly_bars(daily); }
std::string LocalMarketData::tarnel_to_json(const BarTable& rows) { return rows_to_json(rows); }
void LocalMarketData::set_ema(BarTable& df) { technical::set_ema(df); }
void LocalMarketData::set_macd(BarTable& df) { technical::set_macd(df); }
void LocalMarketData::set_rsi(BarTable& df, int period) { technical::set_rsi(df, period); }
void LocalMarketData::set_boll(BarTable& df) { technical::set_boll(df); }
void LocalMarketData::set_volume(BarTable& df) { technical::set_volume(df); }
void LocalMarketData::set_kdj(BarTable& df) { technical::set_kdj(df); }

std::shared_ptr<LocalMarketData> install_local_market_data() {
  auto service = std::make_shared<LocalMarketData>(default_store_path(), quorvel::get_project_root() / "data");
  quorvel::Service<MarketData>::install(service);
  return service;
}

}  // namespace tarnel
