#pragma once
// The authoritative data blocks of the brief prompt: the core index table with its fact lines and
// verdict, and the A-share sentiment thermometer block.
#include <string>
#include <tuple>
#include <utility>

#include <asio/awaitable.hpp>
#include <nlohmann/json.hpp>

#include "quorvel/agent/solvara/index_performance.h"

namespace quorvel::agent::solvara {

struct CoreIndexTable {
  std::string table;
  std::string facts;
  MarketVerdict verdict;
};

// Fetches the core indices of the market one after another on worker threads and renders the
// Markdown table, the fact lines and the verdict. An index that fails gets a 数据错误 row.
asio::awaitable<CoreIndexTable> _generate_core_index_table(std::string market_type, std::string analysis_date);

// Blocking: the daily and weekly sentiment thermometer of the A-share ETF universe as a Markdown
// list, with metadata; other markets and failures give an empty block with a skip reason.
std::pair<std::string, nlohmann::ordered_json> _format_sentiment_block(const std::string& market_type,
                                                                       const std::string& analysis_date);

// Fixed reading of a sentiment direction at a temperature.
std::string _sentiment_direction_meaning(double temperature, const std::string& direction);

namespace detail {
const std::string& SENTIMENT_STATE_LABEL(const std::string& code);
const std::string& SENTIMENT_DIRECTION_LABEL(const std::string& code);
const std::string& SENTIMENT_FACTOR_LABEL(const std::string& code);
}  // namespace detail

}  // namespace quorvel::agent::solvara
