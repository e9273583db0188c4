#pragma once
// The plan ledger's rows in the report database: what became of each stored plan, kept beside its
// analysis (table plan_scores, one row per scored analysis) and published once as a "score" message.
// Only final results are stored ("scored", "not_scorable"); a plan whose later sessions have not
// happened yet is scored again on the next update.
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace quorvel::report {

// A stored analysis with a decision: the plan to score.
struct StoredPlan {
  std::int64_t report_id = 0;  // the analysis row
  std::string code;
  std::string name;
  std::string market_type;  // "A", "HK", "US", "ETF"; empty when unknown
  std::string date;         // analysis day "YYYY-MM-DD"
  std::string llm_client_type;
  nlohmann::ordered_json decision;  // the 23-field record
  std::string check;                // "通过", "需复核", or "未核验" (stored before plans were checked)
};

struct PlanFilter {
  std::optional<std::string> market;  // "A", "HK", "US", "ETF"
  std::optional<std::string> from, to;  // analysis days, inclusive
  std::optional<std::string> llm_client_type;
};

// A final result to store.
struct PlanResult {
  std::int64_t report_id = 0;
  std::string status;  // "scored" or "not_scorable"
  nlohmann::ordered_json score;
};

struct ScoredPlan {
  StoredPlan plan;
  std::string status;
  nlohmann::ordered_json score;
};

}  // namespace quorvel::report
