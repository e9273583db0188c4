#pragma once
// Checks of what an offline stock analysis states against the numbers it cites: each comparison
// of a reading with a bound ("ADX 25.45 > 25（强势档阈值）"), each moving-average stack, the stop and
// its buffers, the trailing-stop tiers of a buy, the frame of the decision, and the holder's exit
// signals against that frame.
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"
#include "quorvel/agent/schemas/decision.h"

namespace quorvel::testing {

struct ClaimInputs {
  const tarnel::BarTable& bars;           // the prompt's daily bars
  const nlohmann::ordered_json& pattern;  // the prompt's pattern_info
  std::string bias;                       // the brief's bias
  const agent::schemas::StockDecision& decision;
};

struct ClaimReport {
  std::vector<std::string> false_claims;  // each with the text it was read from
  std::map<std::string, int> checked;     // claim family -> claims checked
};

ClaimReport check_stated_claims(const std::string& reply, const ClaimInputs& in);

}  // namespace quorvel::testing
