#pragma once
// The prose of the offline stock analysis, one body per framework heading, written only from the
// reading and the plan (every number is one the prompt carries or a rule computed from them).
#include <string>

#include "quorvel/agent/offline/offline_stock_plan.h"

namespace quorvel::agent::offline {

struct SectionInputs {
  const StockPromptFacts& f;
  const StockReading& r;
  const TradePlan& p;
  std::string px(double v) const { return price_text(v, r.decimals); }
};

// A number with fixed decimals, or "—" when it is missing.
std::string num(double v, int decimals = 2);

// Bodies of Steps 0, 1 and 2.0-2.4; empty for another number.
std::string evidence_section(const std::string& number, const SectionInputs& in);
// Bodies of Steps 3, 4, 5, 5.1-5.3; empty for another number.
std::string decision_section(const std::string& number, const SectionInputs& in);

}  // namespace quorvel::agent::offline
