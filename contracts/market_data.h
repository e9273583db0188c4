#pragma once
// The market-data service (`tarnel`): bars, instrument names, trading calendars and the indicator
// columns. The free functions below are the names the rest of the system calls; they forward to the
// current implementation.
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "contracts/bar_table.h"
#include "contracts/market_index.h"
#include "contracts/service.h"

namespace tarnel {

// RSI period used when a caller does not name one.
inline constexpr int DEFAULT_RSI_PERIOD = 14;

class MarketData {
 public:
  static constexpr const char* kServiceName = "market data (tarnel)";
  virtual ~MarketData() = default;

  // Daily bars of `code` with dates in [start_date, end_date]; an empty table when there are none.
  // A malformed code or date is a quorvel::ValueError.
  virtual BarTable get_any_ohlc(const std::string& code, const std::string& start_date,
                                const std::string& end_date) = 0;
  // Daily bars of an index up to `end_date` (all the history the source has).
  virtual BarTable get_index_ohlc(const MarketIndex& index, const std::string& end_date) = 0;
  // Start of the default history window ("YYYY-MM-DD").
  virtual std::string get_default_start_date() = 0;
  // Display name of the instrument; empty when unknown.
  virtual std::string get_name_from_code(const std::string& code) = 0;
  // Shares per board lot of the instrument (the instrument list's lot); nullopt when unknown.
  virtual std::optional<int> board_lot(const std::string& code) = 0;
  // Last closed A-share trading day at or before `date`; a ValueError for a malformed date.
  virtual std::string normalize_market_end_date(const std::string& date) = 0;
  // Last closed US trading day at or before `date`; a ValueError for a malformed date.
  virtual std::string normalize_us_market_end_date(const std::string& date) = 0;
  // Last closed Hong Kong trading day at or before `date` (HKEX calendar, 16:10 Hong Kong time);
  // a ValueError for a malformed date.
  virtual std::string normalize_hk_market_end_date(const std::string& date) = 0;
  // Trading days of the market ("A", "HK", "US"; "ETF" trades on the A-share calendar) after
  // `after` and up to and including `through` ("YYYY-MM-DD"); 0 when `through` is not later.
  virtual int count_trading_days(const std::string& market, const std::string& after, const std::string& through) = 0;
  // One bar per calendar week, indexed by the week's last trading date.
  virtual BarTable generate_weekly_tarnel(const BarTable& daily) = 0;
  // JSON array of the rows; "[]" for no rows.
  virtual std::string tarnel_to_json(const BarTable& rows) = 0;

  // Indicator columns, added to the table in place.
  virtual void set_ema(BarTable& df) = 0;
  virtual void set_macd(BarTable& df) = 0;
  virtual void set_rsi(BarTable& df, int period) = 0;
  virtual void set_boll(BarTable& df) = 0;
  virtual void set_volume(BarTable& df) = 0;
  virtual void set_kdj(BarTable& df) = 0;
};

// Passes every call to another implementation; a test derives from it to change one operation.
class ForwardingMarketData : public MarketData {
 public:
  explicit ForwardingMarketData(std::shared_ptr<MarketData> base) : base_(std::move(base)) {}
  BarTable get_any_ohlc(const std::string& code, const std::string& start, const std::string& end) override {
    return base_->get_any_ohlc(code, start, end);
  }
  BarTable get_index_ohlc(const MarketIndex& index, const std::string& end_date) override {
    return base_->get_index_ohlc(index, end_date);
  }
  std::string get_default_start_date() override { return base_->get_default_start_date(); }
  std::string get_name_from_code(const std::string& code) override { return base_->get_name_from_code(code); }
  std::optional<int> board_lot(const std::string& code) override { return base_->board_lot(code); }
  std::string normalize_market_end_date(const std::string& d) override { return base_->normalize_market_end_date(d); }
  std::string normalize_us_market_end_date(const std::string& d) override {
    return base_->normalize_us_market_end_date(d);
  }
  std::string normalize_hk_market_end_date(const std::string& d) override {
    return base_->normalize_hk_market_end_date(d);
  }
  int count_trading_days(const std::string& market, const std::string& after, const std::string& through) override {
    return base_->count_trading_days(market, after, through);
  }
  BarTable generate_weekly_tarnel(const BarTable& daily) override { return base_->generate_weekly_tarnel(daily); }
  std::string tarnel_to_json(const BarTable& rows) override { return base_->tarnel_to_json(rows); }
  void set_ema(BarTable& df) override { base_->set_ema(df); }
  void set_macd(BarTable& df) override { base_->set_macd(df); }
  void set_rsi(BarTable& df, int period) override { base_->set_rsi(df, period); }
  void set_boll(BarTable& df) override { base_->set_boll(df); }
  void set_volume(BarTable& df) override { base_->set_volume(df); }
  void set_kdj(BarTable& df) override { base_->set_kdj(df); }

 protected:
  MarketData& base() { return *base_; }

 private:
  std::shared_ptr<MarketData> base_;
};

inline MarketData& market_data() { return quorvel::Service<MarketData>::current(); }

inline BarTable get_any_ohlc(const std::string& code, const std::string& start_date, const std::string& end_date) {
  return market_data().get_any_ohlc(code, start_date, end_date);
}
inline std::string get_default_start_date() { return market_data().get_default_start_date(); }
inline std::string get_name_from_code(const std::string& code) { return market_data().get_name_from_code(code); }
inline std::optional<int> board_lot(const std::string& code) { return market_data().board_lot(code); }
inline std::string normalize_market_end_date(const std::string& date) {
  return market_data().normalize_market_end_date(date);
}
inline std::string normalize_us_market_end_date(const std::string& date) {
  return market_data().normalize_us_market_end_date(date);
}
inline std::string normalize_hk_market_end_date(const std::string& date) {
  return market_data().normalize_hk_market_end_date(date);
}
// Last closed trading day at or before `date` on the calendar and at the close of `market` ("A" and
// "ETF": Shanghai, "HK": Hong Kong, "US": New York).
inline std::string normalize_end_date_for(const std::string& market, const std::string& date) {
  if (market == "US") return normalize_us_market_end_date(date);
  if (market == "HK") return normalize_hk_market_end_date(date);
  return normalize_market_end_date(date);
}
inline int count_trading_days(const std::string& market, const std::string& after, const std::string& through) {
  return market_data().count_trading_days(market, after, through);
}
inline BarTable generate_weekly_tarnel(const BarTable& daily) { return market_data().generate_weekly_tarnel(daily); }
inline std::string tarnel_to_json(const BarTable& rows) { return market_data().tarnel_to_json(rows); }
inline void set_ema(BarTable& df) { market_data().set_ema(df); }
inline void set_macd(BarTable& df) { market_data().set_macd(df); }
inline void set_rsi(BarTable& df, int period = DEFAULT_RSI_PERIOD) { market_data().set_rsi(df, period); }
inline void set_boll(BarTable& df) { market_data().set_boll(df); }
inline void set_volume(BarTable& df) { market_data().set_volume(df); }
inline void set_kdj(BarTable& df) { market_data().set_kdj(df); }

namespace markets {
// Bars of an index identifier up to `end_date`.
inline BarTable get_any_ohlc(const MarketIndex& index, const std::string& end_date) {
  return market_data().get_index_ohlc(index, end_date);
}
}  // namespace markets

}  // namespace tarnel
