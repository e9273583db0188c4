#pragma once
// What an analysis makes of the LLM's reply: the validated decision, the Markdown trading summary,
// the cross-check of the model's strategy mode against the pre-screen, and the two report records
// handed to the report store.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "contracts/llm_agent.h"
#include "contracts/report_store.h"
#include "quorvel/agent/schemas/plausibility.h"
#include "quorvel/indicators/stock_status.h"

namespace quorvel::strategy::ai {

// Model label of summaries from an agent without a model name.
inline constexpr std::string_view DEFAULT_MODEL_LABEL = "quorvel-quant";

struct DecisionSummary {
  std::optional<nlohmann::ordered_json> decision_dict;  // absent or empty: no usable decision
  nlohmann::ordered_json decision;  // the 23-field decision record; null without a usable decision
  std::string summary_response;
  std::string refusal;  // why a decision the reply held was not used (empty when it was, or there was none)
  nlohmann::ordered_json plan_checks;  // the plan's rule checks (schemas/plan_checks.h); null without a decision
  bool review_required = false;        // a hard check failed
};

// The agent's model name, or DEFAULT_MODEL_LABEL.
std::string model_label(const agent::StockAgent& agent);

// Extracts the decision from the reply, checks it against the analysed instrument and writes the
// summary; without a usable decision the summary is the "> **LLM**: ..." wait note. A decision map
// that the decision record rejects throws (a ValidationError naming every offending field), as does
// a malformed categorical value or price; an implausible one (schemas/plausibility.h) is logged and
// counts as no decision. A usable decision's plan is checked against the limits of `pattern_info`
// (schemas/plan_checks.h): failed checks are listed at the end of the summary, and a failed hard
// check is logged as "需复核" and sets review_required. The decision itself is never changed.
DecisionSummary summarize_reply(const std::string& trader_response, const agent::StockAgent& agent,
                                const agent::schemas::AnalysedInstrument& instrument,
                                const nlohmann::ordered_json& pattern_info);

// The summary with a "规则核验" section listing `failed_lines`, placed before its closing disclaimer.
std::string with_failed_checks(std::string summary, const std::vector<std::string>& failed_lines, bool review_required);

// Warns "[预筛对账] ..." when the model's strategy mode disagrees with the pre-screen hint on
// whether the setup is a bottom reversal. Changes nothing.
void reconcile_with_pre_screen(const std::string& stock_code, const nlohmann::ordered_json& decision_dict,
                               const nlohmann::ordered_json& pattern_info_dict,
                               const nlohmann::ordered_json& constraints);

// The fields both report records share.
struct ReportFields {
  std::string stock_code;
  std::string stock_name;
  std::string analysis_time;
  std::optional<std::string> market_type;
  double current_price = 0.0;  // quote currency
  std::string data_note;       // for the reports' header; empty when there is nothing to say
  bool review_required = false;  // the plan failed a hard rule check; in the reports' header
  nlohmann::ordered_json levels;  // the pre-screen's {"support", "resistance"}; null when it had none
};

// The pre-screen's support and resistance out of the pattern information's price context, for the
// report page; null when it names neither.
nlohmann::ordered_json prescreen_levels(const nlohmann::ordered_json& pattern_info);

report::AnalysisReport analysis_record(const ReportFields& f, const std::string& content,
                                       const DecisionSummary& decided, const agent::StockAgent& agent);
report::SummaryReport summary_record(const ReportFields& f, const std::string& content, const agent::StockAgent& agent);

// Saves the analysis and the summary record together and flushes the store's queue.
void store_reports(const report::AnalysisReport& analysis, const report::SummaryReport& summary);

}  // namespace quorvel::strategy::ai
