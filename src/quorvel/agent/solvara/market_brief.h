#pragma once
// The market AI brief of a market and day, shared by every analysis of that market and day: served
// from memory, then from disk, else generated once (per process by a coroutine lock, across
// processes by a lock file) and published to the report store. Every obstacle to producing a brief
// is a RuntimeError whose message begins "[大盘 AI 简报]".
//
// Runs on the caller's event loop; call it only from that loop's thread.
#include <optional>
#include <string>
#include <tuple>

#include <asio/awaitable.hpp>
#include <nlohmann/json.hpp>

namespace quorvel::agent::solvara {

// Absent market: the empty text. `force_regenerate` skips both caches and deletes the brief file
// first; `ensure_mq` publishes a cached brief too (a new one is always published).
asio::awaitable<std::string> get_market_ai_brief(std::optional<std::string> market_type, std::string analysis_date,
                                                 bool force_regenerate = false, bool ensure_mq = false);

struct MarketBlocksText {
  std::string environment, history, indicators;
};

// The three market blocks, built in parallel on worker threads; an empty environment or history
// block is a RuntimeError.
asio::awaitable<MarketBlocksText> _fetch_market_blocks(std::string market_type, std::string analysis_date);

// A metadata map in its printed form: {'key': 'text', 'n': 1}.
std::string printed_form(const nlohmann::ordered_json& value);

}  // namespace quorvel::agent::solvara
