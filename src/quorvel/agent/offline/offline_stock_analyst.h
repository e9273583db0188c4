#pragma once
// The offline analyst's answer to a stock-analysis prompt: a deterministic, rule-based report that
// opens with its label, carries every framework heading of the prompt (Step 0 .. Step 6) with short
// content computed from the prompt's own data, and ends in exactly one ```json decision block that
// obeys calculated_constraints. Pure functions; safe on any thread.
#include <string>

#include "quorvel/agent/offline/offline_stock_plan.h"

namespace quorvel::agent::offline {

// First line of every offline stock analysis.
inline constexpr const char* OFFLINE_ANALYSIS_LABEL = "> **离线规则分析 (offline-rules)**";

std::string write_offline_stock_analysis(const StockPromptFacts& facts);

// The decision object: the 23 fields in record order, reals with three decimals, position_pct an integer.
std::string decision_json_text(const StockPromptFacts& facts, const TradePlan& plan);

}  // namespace quorvel::agent::offline
