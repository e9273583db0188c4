#include "quorvel/strategy/ai/analysis_audit.h"

#include <chrono>

#include <cstdint>

#include <date/date.h>
#include <fmt/format.h>

#include "contracts/clock.h"
#include "quorvel/report/markdown.h"
#include "quorvel/report/report_paths.h"
#include "quorvel/utils/atomic_file.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/text.h"

namespace quorvel::strategy::ai {

std::filesystem::path audit_file_path(const std::string& stock_code, const std::string& analysis_time) {
  const auto now = std::chrono::floor<std::chrono::microseconds>(clock().now());
  const std::string stamp = date::format("%Y%m%dT%H%M%S", now);  // seconds carry six decimals
  const std::string name = report::safe_file_component(stock_code) + "_" +
                           report::safe_file_component(date_key(analysis_time), "undated") + "_" +
                           report::safe_file_component(stamp) + ".json";
  return report_directory() / "audit" / name;
}

namespace {

// 64-bit FNV-1a of the text, as 16 hex digits: a stable name for a file holding it.
std::string text_hash(const std::string& text) {
  std::uint64_t h = 14695981039346656037ull;
  for (const unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return fmt::format("{:016x}", h);
}

// With QUORVEL_AUDIT_SHARED_SYSTEM set (a replay writes thousands of audits of few prompts), the
// system message is written once beside the audits and the audit names its file.
nlohmann::ordered_json system_message_member(const std::filesystem::path& audit, const std::string& system) {
  if (!env_value("QUORVEL_AUDIT_SHARED_SYSTEM") || system.empty()) return system;
  const std::string name = "system/" + text_hash(system) + ".md";
  const auto file = audit.parent_path() / name;
  if (!std::filesystem::exists(file)) write_file_atomically(file, system);
  return nlohmann::ordered_json{{"file", name}};
}

}  // namespace

void write_audit(const std::filesystem::path& path, const AnalysisAudit& a) {
  const nlohmann::ordered_json out{{"stock_code", a.stock_code},
                                   {"analysis_time", a.analysis_time},
                                   {"llm_client_type", a.llm_client_type},
                                   {"llm_model", a.llm_model},
                                   {"outcome", a.outcome},
                                   {"system_message", system_message_member(path, a.system_message)},
                                   {"user_message", a.user_message},
                                   {"reply", a.reply},
                                   {"decision", a.decision},
                                   {"calculated_constraints", a.calculated_constraints},
                                   {"trading_rules", a.trading_rules},
                                   {"plan_checks", a.plan_checks},
                                   {"review_required", a.review_required}};
  write_file_atomically(path, out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
}

}  // namespace quorvel::strategy::ai
