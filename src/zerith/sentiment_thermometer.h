#pragma once
// The sentiment thermometer over the ETF universe file, reading bars through the market-data
// service. The factor formulas are documented in sentiment_factors.h.
//
// Snapshot members, in order: date (the last bar date used), freq, temperature (0-100, one
// decimal), state, direction, temperature_change (over the direction look-back), confidence (0-1,
// two decimals), n_etf, factors (breadth, momentum, turnover, volatility, positioning as
// percentiles with one decimal).
//
// Thread-safe: the snapshot cache is guarded; computations run outside the lock.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/sentiment.h"

namespace zerith {

class ZerithSentimentThermometer final : public SentimentThermometer {
 public:
  // Snapshot at the last bar at or before `date` ("YYYY-MM-DD", a time suffix after "_" or a blank is
  // ignored); absent: at the latest bar of the universe up to today. A quorvel::ValueError for a
  // malformed date or frequency; a quorvel::RuntimeError when the universe has no bars for the date,
  // its bars end before the date's last trading day, or the history is too short for percentiles.
  nlohmann::ordered_json compute_sentiment_snapshot(const std::optional<std::string>& date,
                                                    const SentimentConfig& config, bool use_cache) override;
  // Title, tactical action and detail of the band holding `temperature`; a ValueError for NaN.
  SentimentZoneDesc get_sentiment_zone_desc(double temperature) override;

  std::size_t cached_snapshots() const;

 private:
  nlohmann::ordered_json compute(const std::string& end_date, bool explicit_date, const std::string& freq,
                                 const std::string& universe_path);

  mutable std::mutex mutex_;
  std::map<std::string, nlohmann::ordered_json> cache_;
};

// Creates the thermometer and makes it the current sentiment service.
std::shared_ptr<ZerithSentimentThermometer> install_sentiment_thermometer();

}  // namespace zerith
