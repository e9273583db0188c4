#include "quorvel/strategy/ai/reply_audit.h"

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
                           report::safe_file_component(stamp) + ".md";
  return report_directory() / "audit" / name;
}

std::filesystem::path save_paid_reply(const std::string& stock_code, const std::string& analysis_time,
                                      const std::string& reply) {
  const std::filesystem::path path = audit_file_path(stock_code, analysis_time);
  write_file_atomically(path, reply);
  return path;
}

}  // namespace quorvel::strategy::ai
