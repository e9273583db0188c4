#pragma once
// Keeps every paid LLM reply until the analysis has stored it: the raw reply is written to its own
// file in "audit/" under the report directory as soon as the model answered, before anything is
// stored, so a run that dies between paying and storing leaves it there. An analysis that stored
// the reply with a usable decision removes the file; one that found no usable decision (none, an
// invalid or an implausible one) or failed afterwards (a store that refuses the report) keeps it.
#include <filesystem>
#include <string>

namespace quorvel::strategy::ai {

// <report directory>/audit/<code>_<date>_<UTC timestamp with microseconds>.md; code and date pass
// through the report store's file-name rules, the timestamp comes from the clock service.
std::filesystem::path audit_file_path(const std::string& stock_code, const std::string& analysis_time);

// Writes `reply` atomically to a new audit file and returns its path. Throws (a filesystem or
// runtime error) when the file cannot be written.
std::filesystem::path save_paid_reply(const std::string& stock_code, const std::string& analysis_time,
                                      const std::string& reply);

}  // namespace quorvel::strategy::ai
