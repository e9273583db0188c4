// The plan ledger's side of the report store: which plans await a result, storing results with
// their messages, and reading them back.
#include <string>
#include <vector>

#include "contracts/clock.h"
#include "quorvel/report/message.h"
#include "quorvel/report/sql_report_store.h"

namespace quorvel::report {

namespace {

using Json = nlohmann::ordered_json;

// The filter's conditions on the analysis rows `a`, bound from parameter 1 on.
struct Where {
  std::string sql;
  std::vector<std::string> values;
};

Where plan_conditions(const PlanFilter& f) {
  Where w{" a.kind = 'analysis' AND a.decision IS NOT NULL AND a.decision != 'null'", {}};
  auto add = [&](const char* condition, const std::optional<std::string>& value) {
    if (!value) return;
    w.values.push_back(*value);
    w.sql += " AND " + std::string(condition) + " ?" + std::to_string(w.values.size());
  };
  add("a.market_type =", f.market);
  add("a.analysis_date >=", f.from);
  add("a.analysis_date <=", f.to);
  add("a.llm_client_type =", f.llm_client_type);
  return w;
}

// Columns of a plan, in the order read_plan reads them.
constexpr const char* PLAN_COLUMNS =
    "a.id, a.stock_code, a.stock_name, a.market_type, a.analysis_date, a.llm_client_type, a.decision, "
    "a.plan_checks, a.review_required";

StoredPlan read_plan(const Statement& s) {
  StoredPlan p;
  p.report_id = s.integer(0);
  p.code = s.text(1);
  p.name = s.text(2);
  p.market_type = s.optional_text(3).value_or("");
  p.date = s.text(4);
  p.llm_client_type = s.text(5);
  p.decision = Json::parse(s.text(6), nullptr, false);
  if (p.decision.is_discarded()) p.decision = nullptr;
  const bool checked = !s.is_null(7);
  p.check = !checked ? "未核验" : (!s.is_null(8) && s.integer(8) != 0) ? "需复核" : "通过";
  return p;
}

// The newest analysis of its instrument-day and client: an analysis redone with --force replaces
// the earlier one in the ledger.
constexpr const char* LATEST_ONLY =
    " AND a.id = (SELECT MAX(b.id) FROM reports b WHERE b.kind = 'analysis' AND b.stock_code = a.stock_code "
    "AND b.analysis_date = a.analysis_date AND b.llm_client_type = a.llm_client_type)";

}  // namespace

std::vector<StoredPlan> SqlReportStore::plans_to_score(const PlanFilter& filter) {
  const Where w = plan_conditions(filter);
  return locked([&](bool) {
    Statement s = db_->prepare(std::string("SELECT ") + PLAN_COLUMNS + " FROM reports a WHERE" + w.sql + LATEST_ONLY +
                               " AND NOT EXISTS (SELECT 1 FROM plan_scores p WHERE p.report_id = a.id)"
                               " ORDER BY a.analysis_date, a.id");
    for (std::size_t i = 0; i < w.values.size(); ++i) s.bind(int(i + 1), w.values[i]);
    std::vector<StoredPlan> out;
    while (s.step()) {
      StoredPlan p = read_plan(s);
      if (p.decision.is_object()) out.push_back(std::move(p));
    }
    return out;
  });
}

std::size_t SqlReportStore::save_plan_results(std::span<const PlanResult> results) {
  if (results.empty()) return 0;
  const std::string created = iso_utc(clock().now());
  // Run again after a broken connection, results that committed are found stored (by their time)
  // and counted.
  return locked([&](bool retried) {
    std::size_t saved = 0;
    Statement mine = db_->prepare("SELECT 1 FROM plan_scores WHERE report_id = ?1 AND scored_at = ?2");
    Transaction tx(*db_);
    Statement ins = db_->prepare(
        "INSERT INTO plan_scores (report_id, status, score, scored_at) VALUES (?1, ?2, ?3, ?4) "
        "ON CONFLICT (report_id) DO NOTHING");
    Statement plan = db_->prepare(std::string("SELECT ") + PLAN_COLUMNS + " FROM reports a WHERE a.id = ?1");
    Statement msg = db_->prepare(
        "INSERT INTO outbox (message_id, report_id, kind, stream, payload, created_at) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    for (const PlanResult& r : results) {
      ins.reset();
      ins.bind(1, r.report_id).bind(2, r.status).bind(3, r.score.dump(-1, ' ', false, Json::error_handler_t::replace));
      ins.bind(4, created).run();
      if (ins.changes() == 0) {
        // Stored by the attempt that committed just before the connection broke, message and all.
        if (retried) {
          mine.reset();
          mine.bind(1, r.report_id).bind(2, created);
          if (mine.step()) ++saved;
        }
        continue;
      }
      plan.reset();
      plan.bind(1, r.report_id);
      if (!plan.step()) continue;
      const std::string id = new_message_id();
      msg.reset();
      msg.bind(1, id)
          .bind(2, r.report_id)
          .bind(3, kind_name(ReportKind::score))
          .bind(4, stream_name(ReportKind::score));
      msg.bind(5, message_text(score_message({id, created, r.report_id}, read_plan(plan), r.status, r.score)));
      msg.bind(6, created).run();
      ++saved;
    }
    tx.commit();
    return saved;
  });
}

std::vector<ScoredPlan> SqlReportStore::scored_plans(const PlanFilter& filter) {
  const Where w = plan_conditions(filter);
  return locked([&](bool) {
    Statement s = db_->prepare(std::string("SELECT ") + PLAN_COLUMNS +
                               ", p.status, p.score FROM reports a JOIN plan_scores p ON p.report_id = a.id WHERE" +
                               w.sql + " ORDER BY a.analysis_date, a.id");
    for (std::size_t i = 0; i < w.values.size(); ++i) s.bind(int(i + 1), w.values[i]);
    std::vector<ScoredPlan> out;
    while (s.step()) {
      ScoredPlan p{read_plan(s), s.text(9), Json::parse(s.text(10), nullptr, false)};
      if (p.score.is_discarded()) continue;
      out.push_back(std::move(p));
    }
    return out;
  });
}

}  // namespace quorvel::report
