#pragma once
// The offline analyst's reading of one stock prompt: the last daily and weekly indicator values,
// structural levels, the pattern service's flags and the pre-computed constraints, each either
// taken from the prompt or marked missing (never filled with a default). Prices are in the quote
// currency; NaN marks a value the prompt does not carry.
#include <optional>
#include <string>
#include <vector>

#include "quorvel/agent/offline/offline_stock_prompt.h"
#include "quorvel/agent/offline/offline_stock_rules.h"

namespace quorvel::agent::offline {

// A price level and where it comes from, e.g. {1750.3, "price_context.support"}.
struct Level {
  double price;
  std::string source;
};

// The members of pattern_info.calculated_constraints.
struct Constraints {
  double min_rrr = 0, max_stop_dist_atr = 0, max_position_pct = 0, base_confidence_score = 0;
  std::string market_regime;
};

struct StockReading {
  std::size_t daily_rows = 0, weekly_rows = 0;
  int decimals = 2;                 // price decimals of the instrument
  double close, prev_close, price;  // last close, the one before, the prompt's current price
  // Last daily values; atr is trading_rules.atr when the prompt gives it (the unit of distances).
  double atr, ema5, ema10, ema20, ema60, vwma, adx, adx_3d_ago, rsi, rsi6, macd, macd_signal, macd_hist, k, d, j,
      volume_ratio, mfi, sar, upper_band, lower_band, obv, obv_10d_ago, close_10d_ago, close_5d_ago;
  double atr_low_20d;                   // lowest ATR of the last 20 days
  std::vector<double> macd_hist_last4;  // oldest first
  double low_60d, high_60d;             // lowest low and highest high of the last 60 daily rows
  int quiet_volume_days = 0;            // consecutive last days with Volume_Ratio < 0.7
  double week_ema5, week_ema20, week_close;
  std::string alignment;              // over alignment_lines: "多头排列", "空头排列" or "交织"
  std::string alignment_lines;        // "EMA5/10/20/60", or "EMA5/10/20" when EMA60 is missing
  std::string vwma_slope;             // "positive", "negative", "flat" or "" when missing
  double dist_ema20_atr;              // (close - EMA20) / ATR
  Level support, resistance, low_5d;  // from price_context, else computed from the bars
  bool levels_from_pattern = false;
  std::vector<Level> target_levels;   // resistance candidates, ascending
  std::vector<Level> pivot_supports;  // S1-S3 of both pivot sets, descending
  std::optional<std::vector<std::string>> risk_flags;
  std::optional<std::string> vol_regime;
  std::optional<double> rs_20d;
  std::optional<Constraints> constraints;
  std::optional<MarketRules> rules;  // pattern_info.trading_rules; absent in older prompts
  bool t_plus_1 = false;             // settlement T+1 (trading_rules, else the A-share family)
  std::string strategy_hint;         // pre_screen.strategy_hint, else strategy_type; "" when absent
  bool suspect_data = false;         // close <= 0 or the last 3 bars identical
  double max_abs_move_pct = 0;       // largest single-day close-to-close move in the daily rows
  double turnover_20d;               // trading_rules.avg_turnover_20d, else mean close x volume of 20 days
  std::string tier;                  // 强势档 / 中性档 / 弱势档
  double adx_threshold, deviation_cap, stop_cap_by_tier;  // ADX, EMA20 deviation and stop caps in ATR
  std::vector<std::string> missing;                       // inputs the prompt lacks, named as the prompt names them
};

// Value of the column `back` rows before the last; NaN when the column or the row is missing.
double last_value(const tarnel::BarTable& t, const char* name, std::size_t back = 0);

// NaN-safe formatting of a price with the instrument's decimals ("—" for NaN).
std::string price_text(double v, int decimals);

StockReading read_stock(const StockPromptFacts& facts);

bool has_flag(const StockReading& r, const std::string& flag);

// A numeric member of pattern_info found by name at any depth (its nesting differs between
// versions of the pattern service); nothing when absent, null or not a number.
std::optional<double> pattern_number(const nlohmann::ordered_json& pattern, const std::string& key);

}  // namespace quorvel::agent::offline
