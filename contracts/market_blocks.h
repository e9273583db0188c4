#pragma once
// Market data blocks of the market brief: compact Markdown/CSV texts about a market's core indices
// up to a date, each with a metadata map (which may carry "skip_reason" when the block is empty).
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "contracts/service.h"

namespace quorvel {

using TextBlock = std::pair<std::string, nlohmann::ordered_json>;

class MarketBlocks {
 public:
  static constexpr const char* kServiceName = "market blocks (quorvel.utils)";
  virtual ~MarketBlocks() = default;

  virtual TextBlock format_market_environment_block(const std::string& market, const std::string& analysis_time) = 0;
  virtual TextBlock format_market_history_block(const std::string& market, int days,
                                                const std::string& analysis_time) = 0;
  virtual TextBlock format_market_indicator_block(const std::string& market, int indicator_days,
                                                  const std::string& analysis_time) = 0;
};

inline MarketBlocks& market_blocks() { return Service<MarketBlocks>::current(); }

}  // namespace quorvel
