#pragma once
// Keeps a paid LLM reply that the analysis could not use: when an analysis fails after the model
// answered (a decision that fails validation, a store that refuses the report), the raw reply is
// written to its own file in "audit/" under the report directory instead of being lost. The report
// store never sees it, so a rejected decision is never published.
#include <filesystem>
#include <string>

namespace quorvel::strategy::ai {

// <report directory>/audit/<code>_<date>_<UTC timestamp with microseconds>.md; code and date pass
// through the report store's file-name rules, the timestamp comes from the clock service.
std::filesystem::path audit_file_path(const std::string& stock_code, const std::string& analysis_time);

// Writes `reply` atomically to a new audit file and returns its path. Throws (a filesystem or
// runtime error) when the file cannot be written.
std::filesystem::path save_unused_reply(const std::string& stock_code, const std::string& analysis_time,
                                        const std::string& reply);

}  // namespace quorvel::strategy::ai
