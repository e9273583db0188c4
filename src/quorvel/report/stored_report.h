#pragma once
// A report as the report database holds it, whatever its kind, and the query filters of the
// command-line tool.
#include <cstdint>
#include <optional>
#include <string>

#include "quorvel/report/message.h"

namespace quorvel::report {

struct StoredReport {
  std::int64_t id = 0;
  ReportKind kind = ReportKind::analysis;
  std::string stock_code;                  // empty for a market brief
  std::string stock_name;
  std::optional<std::string> market_type;  // absent when the code matches no market
  std::string analysis_date;               // normalised date of analysis_time ("" when it has none)
  std::string analysis_time;               // as given by the caller
  std::optional<double> current_price;     // quote currency; absent for a market brief
  std::string llm_client_type;
  std::string llm_model;
  std::string content;
  std::string created_at;                  // ISO UTC
  std::optional<std::string> file;         // Markdown file relative to the report directory, once written
  std::string data_note;                   // shown in the file's header when not empty
  bool review_required = false;            // a hard plan check failed; shown in the file's header
};

struct ReportFilter {
  std::optional<std::string> code;
  std::optional<std::string> date;  // compared with the normalised date
  std::optional<std::string> market;
  std::optional<ReportKind> kind;
  std::optional<std::string> llm_client_type;
  int limit = 100;
};

// One outbox row.
struct PendingMessage {
  std::int64_t seq = 0;
  std::string id;
  ReportKind kind = ReportKind::analysis;
  std::int64_t report_id = 0;
  std::string created_at;
  int attempts = 0;
  std::optional<std::string> last_error;
  std::optional<std::string> last_attempt_at;
  std::optional<std::string> claimed_until;  // ISO UTC end of the claim of a flush sending it now
};

}  // namespace quorvel::report
