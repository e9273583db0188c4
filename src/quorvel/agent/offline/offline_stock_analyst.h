#pragma once
// The offline analyst's answer to a stock-analysis prompt: a deterministic, rule-based report that
// opens with its label, carries every framework heading of the prompt (Step 0 .. Step 6) with short
// content computed from the prompt's own data, and ends in exactly one ```json decision block that
// obeys calculated_constraints and trading_rules and passes the plan checker's hard checks. Every
// comparison it states holds between the numbers it cites. Pure functions; safe on any thread.
#include <string>

#include "quorvel/agent/offline/offline_stock_plan.h"

namespace quorvel::agent::offline {

// First line of every offline stock analysis.
inline constexpr const char* OFFLINE_ANALYSIS_LABEL = "> **离线规则分析 (offline-rules)**";

std::string write_offline_stock_analysis(const StockPromptFacts& facts);

}  // namespace quorvel::agent::offline
