#pragma once
// What the report pages read from the report store: one analysis with everything its page shows,
// and one row per analysed instrument-day for the index and the report list.
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "quorvel/report/stored_report.h"

namespace quorvel::report {

// An analysis and what its page shows beside it.
struct PageReport {
  StoredReport analysis;
  nlohmann::ordered_json decision;     // the 23-field record; null without a usable decision
  nlohmann::ordered_json plan_checks;  // array of checks; null when the plan was not checked
  nlohmann::ordered_json levels;       // the pre-screen's {"support", "resistance"}; null when not recorded
  std::string summary;                 // the trading summary's Markdown; empty when none is stored
  std::string brief;                   // the market brief of its market (funds: A-shares) and day; may be empty
  std::string score_status;            // "scored", "not_scorable"; empty while not scored
  nlohmann::ordered_json score;        // the ledger's result; null while not scored
};

// The latest analysis of one instrument-day and client, as the index and the report list show it.
struct AnalysisEntry {
  std::int64_t id = 0;
  std::string code, name, market_type, date, llm_client_type, llm_model, created_at;
  std::string action, direction, confidence;  // of the decision; empty without one
  std::string summary;                        // the trading summary (the verdict is read from it)
  bool review_required = false;
  bool checked = false;                       // the plan went through the rule checks
  std::string score_status;                   // as in PageReport
  nlohmann::ordered_json score;
  std::optional<std::string> file;            // the Markdown file, relative to the report directory
};

struct EntryFilter {
  std::optional<std::string> code, date, market, llm_client_type;
};

}  // namespace quorvel::report
