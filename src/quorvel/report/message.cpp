#include "quorvel/report/message.h"

#include <cmath>
#include <random>

#include <date/date.h>
#include <fmt/format.h>

namespace quorvel::report {

namespace {

using Json = nlohmann::ordered_json;

Json price(double p) { return std::isfinite(p) ? Json(p) : Json(nullptr); }

Json header_members(const MessageHeader& header, ReportKind kind) {
  Json m = Json::object();
  m["id"] = header.id;
  m["type"] = kind_name(kind);
  m["schema_version"] = MESSAGE_SCHEMA_VERSION;
  m["created_at"] = header.created_at;
  m["report_id"] = header.report_id;
  return m;
}

}  // namespace

std::string_view kind_name(ReportKind kind) {
  switch (kind) {
    case ReportKind::analysis: return "analysis";
    case ReportKind::summary: return "summary";
    case ReportKind::solvara: return "solvara";
    case ReportKind::score: return "score";
  }
  return "analysis";
}

std::optional<ReportKind> parse_kind(std::string_view name) {
  for (const ReportKind k : {ReportKind::analysis, ReportKind::summary, ReportKind::solvara, ReportKind::score})
    if (kind_name(k) == name) return k;
  return std::nullopt;
}

std::string_view stream_name(ReportKind kind) {
  switch (kind) {
    case ReportKind::analysis: return "quorvel:analysis";
    case ReportKind::summary: return "quorvel:summary";
    case ReportKind::solvara: return "quorvel:solvara";
    case ReportKind::score: return "quorvel:score";
  }
  return "quorvel:analysis";
}

std::string new_message_id() {
  std::random_device rd;
  std::uint64_t hi = (std::uint64_t(rd()) << 32) | rd();
  std::uint64_t lo = (std::uint64_t(rd()) << 32) | rd();
  hi = (hi & ~0xf000ull) | 0x4000ull;                          // version 4
  lo = (lo & ~(0xc000ull << 48)) | (0x8000ull << 48);          // RFC 4122 variant
  return fmt::format("{:08x}-{:04x}-{:04x}-{:04x}-{:012x}", hi >> 32, (hi >> 16) & 0xffff, hi & 0xffff,
                     lo >> 48, lo & 0xffffffffffffull);
}

std::string iso_utc(std::chrono::system_clock::time_point t) {
  return date::format("%FT%TZ", std::chrono::floor<std::chrono::milliseconds>(t));
}

Json analysis_message(const MessageHeader& header, const AnalysisReport& r, const std::optional<Json>& decision) {
  Json m = header_members(header, ReportKind::analysis);
  m["stock_code"] = r.stock_code;
  m["stock_name"] = r.stock_name;
  m["market_type"] = r.market_type ? Json(*r.market_type) : Json(nullptr);
  m["analysis_time"] = r.analysis_time;
  m["current_price"] = price(r.current_price);
  m["llm_client_type"] = r.llm_client_type;
  m["llm_model"] = r.llm_model;
  m["content"] = r.content;
  m["decision"] = decision ? *decision : Json(nullptr);
  m["plan_checks"] = r.plan_checks ? *r.plan_checks : Json(nullptr);
  m["review_required"] = r.review_required;
  return m;
}

Json summary_message(const MessageHeader& header, const SummaryReport& r) {
  Json m = header_members(header, ReportKind::summary);
  m["stock_code"] = r.stock_code;
  m["stock_name"] = r.stock_name;
  m["analysis_time"] = r.analysis_time;
  m["current_price"] = price(r.current_price);
  m["llm_client_type"] = r.llm_client_type;
  m["llm_model"] = r.llm_model;
  m["content"] = r.content;
  return m;
}

Json solvara_message(const MessageHeader& header, const SolvaraReport& r) {
  Json m = header_members(header, ReportKind::solvara);
  m["market_type"] = r.market_type;
  m["analysis_time"] = r.analysis_time;
  m["llm_client_type"] = r.llm_client_type;
  m["llm_model"] = r.llm_model;
  m["content"] = r.content;
  return m;
}

std::string message_text(const Json& message) {
  return message.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json score_message(const MessageHeader& header, const StoredPlan& plan, const std::string& status, const Json& score) {
  Json m = header_members(header, ReportKind::score);
  m["stock_code"] = plan.code;
  m["market_type"] = plan.market_type.empty() ? Json(nullptr) : Json(plan.market_type);
  m["analysis_time"] = plan.date;
  m["llm_client_type"] = plan.llm_client_type;
  m["status"] = status;
  m["score"] = score;
  return m;
}

}  // namespace quorvel::report
