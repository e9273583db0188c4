#pragma once
// The decision object the offline analysis ends with, and the plan checker's verdict on it read
// back the way any model reply is read: through the decision extractor. Pure; safe on any thread.
#include <optional>
#include <string>
#include <vector>

#include "quorvel/agent/offline/offline_stock_plan.h"
#include "quorvel/agent/schemas/plan_checks.h"

namespace quorvel::agent::offline {

// The 23 fields in record order, reals with three decimals, position_pct an integer.
std::string decision_json_text(const StockPromptFacts& facts, const TradePlan& plan);

// The plan checks of the decision `plan` would emit, against the prompt's pattern_info; nothing
// when the extractor does not accept the decision block.
std::optional<std::vector<schemas::PlanCheck>> emitted_plan_checks(const StockPromptFacts& facts,
                                                                   const TradePlan& plan);

}  // namespace quorvel::agent::offline
