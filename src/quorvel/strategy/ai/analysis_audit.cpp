#include "quorvel/strategy/ai/analysis_audit.h"

#include <chrono>

#include <date/date.h>

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

void write_audit(const std::filesystem::path& path, const AnalysisAudit& a) {
  const nlohmann::ordered_json out{{"stock_code", a.stock_code},
                                   {"analysis_time", a.analysis_time},
                                   {"llm_client_type", a.llm_client_type},
                                   {"llm_model", a.llm_model},
                                   {"outcome", a.outcome},
                                   {"system_message", a.system_message},
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
