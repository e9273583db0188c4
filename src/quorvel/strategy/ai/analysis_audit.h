#pragma once
// One audit file per analysis, enough to replay it: the rendered system and user messages, the
// model and client, the raw reply, the decision as extracted, the limits the model was given
// (calculated_constraints, trading_rules) and the plan checks. It is written as soon as the model
// answered, before anything is stored, so a run that dies between paying and storing leaves the
// paid reply there, and written again with the outcome when the analysis ends.
//
// Files: <report directory>/audit/<code>_<date>_<UTC timestamp with microseconds>.json, one JSON
// object (members in the order of AnalysisAudit). With QUORVEL_AUDIT_SHARED_SYSTEM set (replays),
// system_message is {"file": "system/<hash>.md"}: each distinct system message is stored once. Code and date pass through the report store's
// file-name rules; the timestamp comes from the clock service.
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

namespace quorvel::strategy::ai {

struct AnalysisAudit {
  std::string stock_code;
  std::string analysis_time;
  std::string llm_client_type;
  std::string llm_model;
  std::string outcome;  // "已收到回复", "已存储", "无可用决策: <why>", "出错: <error>"
  std::string system_message;
  std::string user_message;
  std::string reply;
  nlohmann::ordered_json decision;  // as extracted and validated; null when none
  nlohmann::ordered_json calculated_constraints;
  nlohmann::ordered_json trading_rules;
  nlohmann::ordered_json plan_checks;  // null when no decision was checked
  bool review_required = false;
};

std::filesystem::path audit_file_path(const std::string& stock_code, const std::string& analysis_time);

// Writes the audit atomically to `path` (replacing an earlier state of the same analysis). Throws a
// filesystem or runtime error when the file cannot be written.
void write_audit(const std::filesystem::path& path, const AnalysisAudit& audit);

}  // namespace quorvel::strategy::ai
