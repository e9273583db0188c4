#pragma once
// The market-data service over the local SQLite bar store. The store is filled from the bundled
// data folder the first time it is opened empty. Thread-safe: each thread borrows its own
// connection from a small pool.
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "contracts/market_data.h"
#include "tarnel/bar_store.h"
#include "tarnel/trading_calendar.h"

namespace tarnel {

// Start of the default history window: long enough for EMA_120 plus the displayed rows on any
// analysis date of the bundled data, and the same for every run so that results are repeatable.
inline constexpr const char* DEFAULT_HISTORY_START = "2015-01-01";

class LocalMarketData final : public MarketData {
 public:
  // Opens (creating when needed) the store at `store_file`; loads the instruments of
  // `bundled_data_dir` it has never received (see load_missing_bundled).
  LocalMarketData(std::filesystem::path store_file, std::filesystem::path bundled_data_dir);

  BarTable get_any_ohlc(const std::string& code, const std::string& start_date, const std::string& end_date) override;
  BarTable get_index_ohlc(const MarketIndex& index, const std::string& end_date) override;
  std::string get_default_start_date() override;
  std::string get_name_from_code(const std::string& code) override;
  std::optional<int> board_lot(const std::string& code) override;
  std::string normalize_market_end_date(const std::string& date) override;
  std::string normalize_us_market_end_date(const std::string& date) override;
  std::string normalize_hk_market_end_date(const std::string& date) override;
  int count_trading_days(const std::string& market, const std::string& after, const std::string& through) override;
  BarTable generate_weekly_tarnel(const BarTable& daily) override;
  std::string tarnel_to_json(const BarTable& rows) override;
  void set_ema(BarTable& df) override;
  void set_macd(BarTable& df) override;
  void set_rsi(BarTable& df, int period) override;
  void set_boll(BarTable& df) override;
  void set_volume(BarTable& df) override;
  void set_kdj(BarTable& df) override;

  const std::filesystem::path& store_file() const { return store_file_; }

  // Stock and fund bars of a raw or unknown A-share series come adjusted for splits and bonus issues
  // (corporate_actions.h), the adjustments recorded in the table.

  // The trading calendar of a market ("A", "HK", "US"; "ETF" uses the A-share one): the shipped
  // list extended by the dates of the market's index bars, read once per process.
  const TradingCalendar& trading_calendar(const std::string& market);
  // The last closed session at or before `date` in the market's own time zone and calendar.
  std::string normalize_end_date(const std::string& date, const std::string& market);
  // The code the instrument's bars are stored under (see stored_instrument).
  std::string storage_code(const std::string& code);
  // Logs once per market and process that `d` lies beyond the market's trading-day list.
  void warn_if_beyond_calendar(const std::string& market, Date d);

  // From now on reads of bars up to `through` come from memory: each stored series is read once,
  // up to `through`, and sliced per request; the split adjustment still runs on the slice, so every
  // read returns what the store would give. For replays, which read the same series thousands of
  // times; bars stored after this call are not seen.
  void keep_series_in_memory(Date through);

 private:
  class Lease;
  Lease borrow();
  // The code an instrument is stored under and its stored entry (none when it is not stored).
  struct Stored {
    std::string code;
    std::optional<InstrumentEntry> entry;
  };
  // The stored code of `code`: its canonical form, or the bare fund code of an exchange-prefixed fund.
  static Stored stored_instrument(BarStore& store, const std::string& code);
  // Whether bars of the stored instrument are a raw or unknown A-share stock or fund series.
  static bool needs_split_adjustment(BarStore& store, const Stored& stored);
  // The stored rows of `stored` in [first, last], from memory when keep_series_in_memory covers them.
  BarTable load(BarStore& store, const std::string& stored, Date first, Date last);

  std::filesystem::path store_file_;
  std::mutex pool_mutex_;
  std::vector<std::unique_ptr<BarStore>> pool_;
  std::mutex calendar_mutex_;
  std::vector<std::pair<std::string, std::unique_ptr<TradingCalendar>>> calendars_;
  std::vector<std::string> warned_markets_;  // guarded by calendar_mutex_
  std::mutex memory_mutex_;
  // Set once keep_series_in_memory was called, so the reads of a whole-market screen (which never
  // call it) take no lock that their threads would queue on.
  std::atomic<bool> memory_kept_{false};
  std::optional<Date> memory_through_;  // guarded by memory_mutex_
  std::map<std::string, std::shared_ptr<const BarTable>> memory_;  // stored code -> rows up to memory_through_
};

// Creates the local service for the configured data root and makes it the current one.
std::shared_ptr<LocalMarketData> install_local_market_data();

// Today's date ("YYYY-MM-DD") where the market ("A", "HK", "US", "ETF") trades, in its own time zone.
std::string market_today(const std::string& market);

}  // namespace tarnel
