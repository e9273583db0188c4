#pragma once
// The sentiment thermometer of the pattern package (`zerith`): a 0-100 temperature of the A-share
// ETF universe from five factors, with its zone, direction and confidence.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/service.h"

namespace zerith {

struct SentimentConfig {
  std::string freq;           // "D" (daily bars) or "W" (weekly bars)
  std::string universe_path;  // the ETF universe file (YAML)
};

// Zone of a temperature: title, tactical action, and a longer note.
struct SentimentZoneDesc {
  std::string title;
  std::string action;
  std::string detail;
};

class SentimentThermometer {
 public:
  static constexpr const char* kServiceName = "sentiment thermometer (zerith)";
  virtual ~SentimentThermometer() = default;

  // Snapshot map with at least "temperature" (0-100), "state" (ICE_COLD, COLD, NEUTRAL, HOT,
  // OVERHEAT), "direction" (warming, cooling, flat), "confidence" (0-1), "n_etf" and "factors"
  // (breadth, momentum, turnover, volatility, positioning as percentiles). `date` absent: the latest.
  virtual nlohmann::ordered_json compute_sentiment_snapshot(const std::optional<std::string>& date,
                                                            const SentimentConfig& config, bool use_cache) = 0;
  virtual SentimentZoneDesc get_sentiment_zone_desc(double temperature) = 0;
};

inline SentimentThermometer& sentiment_thermometer() { return quorvel::Service<SentimentThermometer>::current(); }

inline nlohmann::ordered_json compute_sentiment_snapshot(const std::optional<std::string>& date,
                                                         const SentimentConfig& config, bool use_cache = true) {
  return sentiment_thermometer().compute_sentiment_snapshot(date, config, use_cache);
}
inline SentimentZoneDesc get_sentiment_zone_desc(double temperature) {
  return sentiment_thermometer().get_sentiment_zone_desc(temperature);
}

}  // namespace zerith
