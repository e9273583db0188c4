#pragma once
// The market data blocks of the market brief, built from the core indices' daily bars read through
// the market-data service. Texts are compact (they go into an LLM prompt): prices and percentages
// with two decimals, volumes scaled to 万 or 亿 (shares as stored).
//
// An index takes part when its last bar at or before the analysis date is at most
// MAX_INDEX_BAR_AGE_DAYS calendar days old (long enough for the Spring Festival and National Day
// breaks); older or missing indices are named in the metadata under "skipped". With no index taking
// part a block is the empty text and its metadata carries "skip_reason".
//
// Metadata members: market, analysis_date, indices (display names used), last_date (latest bar date
// used), last_dates (per index), skipped (per index: why), then the block's own counts; or
// market, analysis_date, skip_reason, skipped.
//
// Stateless and thread-safe: the three builders may run at the same time.
#include <memory>
#include <string>

#include "contracts/market_blocks.h"

namespace quorvel {

inline constexpr int MAX_INDEX_BAR_AGE_DAYS = 10;

class TarnelMarketBlocks final : public MarketBlocks {
 public:
  // Markdown table: close, change, amplitude, volume, volume ratio, 5- and 20-bar change per index.
  TextBlock format_market_environment_block(const std::string& market, const std::string& analysis_time) override;
  // Per index a CSV of the last `days` daily bars: date, open, high, low, close, change %, volume.
  TextBlock format_market_history_block(const std::string& market, int days, const std::string& analysis_time) override;
  // Per index a CSV of the last `indicator_days` rows of EMA 5/20/60, MACD (DIF, DEA, histogram),
  // RSI 14, Bollinger bands, volume ratio and ATR 14, computed over the whole available history.
  TextBlock format_market_indicator_block(const std::string& market, int indicator_days,
                                          const std::string& analysis_time) override;
};

// Creates the blocks service and makes it the current one.
std::shared_ptr<TarnelMarketBlocks> install_market_blocks();

}  // namespace quorvel
