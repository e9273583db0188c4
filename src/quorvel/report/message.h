#pragma once
// The messages the report store publishes: one JSON document per stored report, with a unique id
// that never changes between delivery attempts; the broker deduplicates resends by it. The layout
// is documented, with an example of each type, in docs/messages.md.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "contracts/report_store.h"
#include "quorvel/report/plan_ledger.h"

namespace quorvel::report {

enum class ReportKind { analysis, summary, solvara, score };

// "analysis", "summary", "solvara", "score" (a plan's result; no report row of its own).
std::string_view kind_name(ReportKind kind);
std::optional<ReportKind> parse_kind(std::string_view name);

// Redis stream that carries messages of this kind ("quorvel:analysis", ...).
std::string_view stream_name(ReportKind kind);

// Version of the message layout; raised when a member changes meaning or disappears.
inline constexpr int MESSAGE_SCHEMA_VERSION = 1;

// A random (version 4) UUID in its usual 36-character text form. Drawn from the operating system's
// random source on every call, so forked processes never repeat each other's ids.
std::string new_message_id();

// UTC instant as "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string iso_utc(std::chrono::system_clock::time_point t);

// Milliseconds since 1970 (UTC): how lease ends are stored, so that SQLite compares plain integers.
inline std::int64_t epoch_ms(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

// What every message carries besides the report's own fields.
struct MessageHeader {
  std::string id;          // unique message id (UUID)
  std::string created_at;  // when the report was stored, ISO UTC
  std::int64_t report_id;  // row of the report in the report database
};

nlohmann::ordered_json analysis_message(const MessageHeader& header, const AnalysisReport& report,
                                        const std::optional<nlohmann::ordered_json>& decision);
nlohmann::ordered_json summary_message(const MessageHeader& header, const SummaryReport& report);
nlohmann::ordered_json solvara_message(const MessageHeader& header, const SolvaraReport& report);
// report_id is the scored analysis.
nlohmann::ordered_json score_message(const MessageHeader& header, const StoredPlan& plan, const std::string& status,
                                     const nlohmann::ordered_json& score);

// Compact JSON text of a message. Invalid UTF-8 in a text is replaced by U+FFFD (JSON cannot carry
// it); valid text, including any Unicode, quotes and new-lines, passes through unchanged.
std::string message_text(const nlohmann::ordered_json& message);

}  // namespace quorvel::report
