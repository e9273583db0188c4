// The report pages' side of the report store: one analysis with what its page shows, and the
// latest analysis of every instrument-day for the index and the report list.
#include <string>
#include <vector>

#include <fmt/format.h>

#include "quorvel/report/decision_payload.h"
#include "quorvel/report/sql_report_store.h"
#include "quorvel/utils/text.h"

namespace quorvel::report {

namespace {

using Json = nlohmann::ordered_json;

Json parsed_or_null(const std::optional<std::string>& text) {
  if (!text) return nullptr;
  Json j = Json::parse(*text, nullptr, false);
  return j.is_discarded() ? Json() : j;
}

// The decision of an analysis row: its column, or for rows stored before the column existed the
// record read from the reply.
Json row_decision(const std::optional<std::string>& column, const std::string& content) {
  if (column) return parsed_or_null(column);
  const auto decision = decision_from_analysis(content);
  return decision ? *decision : Json();
}

std::string text_of(const Json& decision, const char* key) {
  if (!decision.is_object()) return "";
  const auto it = decision.find(key);
  return it != decision.end() && it->is_string() ? it->get<std::string>() : "";
}

// The newest summary of the analysis row `a`'s instrument-day and client.
constexpr const char* SUMMARY_OF_A =
    "(SELECT s.content FROM reports s WHERE s.kind = 'summary' AND s.stock_code = a.stock_code "
    "AND s.analysis_date = a.analysis_date AND s.llm_client_type = a.llm_client_type ORDER BY s.id DESC LIMIT 1)";

}  // namespace

std::optional<std::int64_t> SqlReportStore::latest_analysis_id(const AnalysisKey& key) {
  return locked([&](bool) -> std::optional<std::int64_t> {
    Statement s = db_->prepare(
        "SELECT MAX(id) FROM reports WHERE kind = 'analysis' AND stock_code = ?1 AND analysis_date = ?2 "
        "AND llm_client_type = ?3");
    s.bind(1, key.code).bind(2, date_key(key.date)).bind(3, key.llm_client_type);
    if (!s.step() || s.is_null(0)) return std::nullopt;
    return s.integer(0);
  });
}

std::optional<PageReport> SqlReportStore::page_report(std::int64_t id) {
  auto analysis = get_report(id);
  if (!analysis || analysis->kind != ReportKind::analysis) return std::nullopt;
  PageReport page;
  page.analysis = std::move(*analysis);
  const StoredReport& a = page.analysis;
  return locked([&](bool) -> std::optional<PageReport> {
    Statement s = db_->prepare(std::string("SELECT a.decision, a.plan_checks, a.prescreen_levels, ") + SUMMARY_OF_A +
                               ", p.status, p.score FROM reports a LEFT JOIN plan_scores p ON p.report_id = a.id "
                               "WHERE a.id = ?1");
    s.bind(1, id);
    if (!s.step()) return std::nullopt;
    page.decision = row_decision(s.optional_text(0), a.content);
    page.plan_checks = parsed_or_null(s.optional_text(1));
    page.levels = parsed_or_null(s.optional_text(2));
    page.summary = s.text(3);
    page.score_status = s.text(4);
    page.score = parsed_or_null(s.optional_text(5));
    // The brief the analysis read: of its market (funds: the A-share brief) and day, stored before it
    // (whichever model wrote it: the brief cache is shared).
    const std::string market = a.market_type.value_or("") == "ETF" ? "A" : a.market_type.value_or("");
    Statement brief = db_->prepare(
        "SELECT content FROM reports WHERE kind = 'solvara' AND market_type = ?1 AND analysis_date = ?2 "
        "AND id < ?3 ORDER BY id DESC LIMIT 1");
    brief.bind(1, market).bind(2, a.analysis_date).bind(3, id);
    if (brief.step()) page.brief = brief.text(0);
    return page;
  });
}

std::vector<AnalysisEntry> SqlReportStore::analysis_entries(const EntryFilter& f) {
  // Only fixed clauses enter the SQL text; every value is a bound parameter. The decision's members
  // are read by the database, so the index of a large store never parses whole records.
  // The decision is read only when it holds JSON: one damaged row must not stop the index or the list.
  std::string sql = fmt::format(
      "SELECT a.id, a.stock_code, a.stock_name, a.market_type, a.analysis_date, a.llm_client_type, a.llm_model, "
      "a.created_at, CASE WHEN a.decision IS NULL THEN 1 ELSE 0 END, {0}, {1}, {2}, "
      "CASE WHEN a.decision IS NULL THEN a.content END, {3}, a.review_required, "
      "CASE WHEN a.plan_checks IS NULL THEN 0 ELSE 1 END, p.status, p.score, a.file "
      "FROM reports a LEFT JOIN plan_scores p ON p.report_id = a.id WHERE a.kind = 'analysis' "
      "AND a.id = (SELECT MAX(b.id) FROM reports b WHERE b.kind = 'analysis' AND b.stock_code = a.stock_code "
      "AND b.analysis_date = a.analysis_date AND b.llm_client_type = a.llm_client_type)",
      db_->json_member("a.decision", "action"), db_->json_member("a.decision", "direction"),
      db_->json_member("a.decision", "confidence"), SUMMARY_OF_A);
  if (f.code) sql += " AND a.stock_code = ?1";
  if (f.date) sql += " AND a.analysis_date = ?2";
  if (f.market) sql += " AND a.market_type = ?3";
  if (f.llm_client_type) sql += " AND a.llm_client_type = ?4";
  sql += " ORDER BY a.analysis_date DESC, a.id DESC";
  return locked([&](bool) {
    Statement s = db_->prepare(sql);
    if (f.code) s.bind(1, *f.code);
    if (f.date) s.bind(2, date_key(*f.date));
    if (f.market) s.bind(3, upper_ascii(*f.market));
    if (f.llm_client_type) s.bind(4, *f.llm_client_type);
    std::vector<AnalysisEntry> out;
    while (s.step()) {
      AnalysisEntry e;
      e.id = s.integer(0);
      e.code = s.text(1);
      e.name = s.text(2);
      e.market_type = s.text(3);
      e.date = s.text(4);
      e.llm_client_type = s.text(5);
      e.llm_model = s.text(6);
      e.created_at = s.text(7);
      if (s.integer(8) != 0) {  // stored before the decision had a column
        const Json d = row_decision(std::nullopt, s.text(12));
        e.action = text_of(d, "action");
        e.direction = text_of(d, "direction");
        e.confidence = text_of(d, "confidence");
      } else {
        e.action = s.text(9);
        e.direction = s.text(10);
        e.confidence = s.text(11);
      }
      e.summary = s.text(13);
      e.review_required = !s.is_null(14) && s.integer(14) != 0;
      e.checked = s.integer(15) != 0;
      e.score_status = s.text(16);
      e.score = parsed_or_null(s.optional_text(17));
      e.file = s.optional_text(18);
      out.push_back(std::move(e));
    }
    return out;
  });
}

}  // namespace quorvel::report
