#pragma once
// Realistic stock-analysis prompts built from real bars: the indicator columns the AI selector adds,
// the compact bar JSON, a pattern_info with the pattern service's members computed from the bars,
// a market brief with a chosen bias, rendered through the real per-market templates. pattern_info
// carries trading_rules as the AI selector computes them.
// Shared by the offline-analyst tests and the prompt-size benchmark (no test framework inside).
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"
#include "contracts/llm_agent.h"

namespace quorvel::testing {

// The members of calculated_constraints.
struct ConstraintSet {
  double min_rrr = 1.3;
  double max_stop_dist_atr = 1.8;
  double max_position_pct = 20;
  double base_confidence_score = 2.0;
  std::string market_regime = "中性档";
};

struct StockPromptCase {
  StockPromptCase(std::string code_, std::string market_, std::string date_, std::string bias_ = "震荡",
                  ConstraintSet constraints_ = {})
      : code(std::move(code_)),
        market(std::move(market_)),
        date(std::move(date_)),
        bias(std::move(bias_)),
        constraints(std::move(constraints_)) {}
  std::string code;    // "sh.600519"
  std::string market;  // template family: "A", "HK", "US" or "ETF"
  std::string date;    // last daily bar included ("YYYY-MM-DD")
  std::string bias = "震荡";
  ConstraintSet constraints;
  std::vector<std::string> risk_flags;
  std::string vol_regime = "normal_vol";
  bool with_price_context = true;  // false writes price_context as null
  bool real_constraints = false;   // true: calculated_constraints by the AI selector's own function
  std::string name;                // the instrument's name; the code when empty
  std::optional<int> lot;          // board lot, when the instrument list knows it
};

// The daily (or weekly) table with the AI selector's indicator columns: EMAs, RSI, MACD, bands,
// volume ratio, ATR, KDJ, then VWMA (20), OBV, ADX (14), MFI (14) and SAR (0.02/0.2).
tarnel::BarTable with_analysis_columns(tarnel::BarTable bars);

// pattern_info as the AI selector hands it on, computed from the prepared tables.
nlohmann::ordered_json sample_pattern_info(const tarnel::BarTable& daily, const tarnel::BarTable& weekly,
                                           const StockPromptCase& c);

// A market brief whose verdict line carries the bias.
std::string sample_market_brief(const std::string& market, const std::string& bias);

struct StockPromptSample {
  tarnel::BarTable daily, weekly;  // up to the date, with indicator columns
  agent::StockAnalysisInputs inputs;
  std::string system_message, user_message;
};

// `history` is the instrument's full daily table; rows after c.date are dropped.
StockPromptSample make_stock_prompt_sample(const tarnel::BarTable& history, const StockPromptCase& c);

}  // namespace quorvel::testing
