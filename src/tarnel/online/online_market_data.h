#pragma once
// The market-data service with online filling: before reading, get_any_ohlc and the index reads
// fill the missing trading days of the requested range from the providers, once per instrument and
// range per process; a name the store lacks is asked of the providers. Everything else, and every
// read, is the local store's. A provider's failure never fails a read: the store's bars are
// returned as they are. Thread-safe.
#include <map>
#include <memory>
#include <optional>
#include <mutex>
#include <string>

#include "contracts/market_data.h"
#include "tarnel/local_market_data.h"
#include "tarnel/online/bar_fill.h"

namespace tarnel::online {

class OnlineMarketData final : public ForwardingMarketData {
 public:
  OnlineMarketData(std::shared_ptr<LocalMarketData> local, OnlineConfig config,
                   Fetcher::Transport transport = quorvel::http_get);

  BarTable get_any_ohlc(const std::string& code, const std::string& start_date, const std::string& end_date) override;
  BarTable get_index_ohlc(const MarketIndex& index, const std::string& end_date) override;
  std::string get_name_from_code(const std::string& code) override;

 private:
  // Runs `work` once per key in this process; concurrent callers of one key wait for the first.
  template <class Work>
  void once(const std::string& key, Work&& work);
  void fill_once(const std::string& code, const std::string& start_date, const std::string& end_date);

  std::shared_ptr<LocalMarketData> local_;
  BarFiller filler_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<std::once_flag>> done_;
};

// Creates the local service for the configured data root and makes it the current one, wrapped in
// the online filler unless TARNEL_ONLINE switches that off. With `keep_in_memory_through` the local
// service serves bars up to that day from memory (LocalMarketData::keep_series_in_memory): a replay
// reads history that is stored already.
std::shared_ptr<MarketData> install_market_data(std::optional<Date> keep_in_memory_through = std::nullopt);

}  // namespace tarnel::online
