#include "quorvel/ledger/ledger_entries.h"

#include <map>
#include <utility>

#include "quorvel/strategy/ai/market_bias.h"
#include "quorvel/utils/json_values.h"
#include "quorvel/utils/text.h"

namespace quorvel::ledger {

namespace {

using Json = nlohmann::ordered_json;

// The bias of every stored brief by (market, day); the newest brief of a day counts.
std::map<std::pair<std::string, std::string>, std::string> biases(report::SqlReportStore& store) {
  report::ReportFilter f;
  f.kind = report::ReportKind::solvara;
  f.limit = 1000000;
  std::map<std::pair<std::string, std::string>, std::string> out;
  for (const auto& brief : store.list_reports(f))  // newest first
    out.emplace(std::pair{brief.market_type.value_or(""), date_key(brief.analysis_time)},
                strategy::ai::_extract_market_bias(brief.content));
  return out;
}

}  // namespace

PlanScore plan_score_from_json(const Json& s) {
  PlanScore p;
  p.status = text_member(s, "status");
  p.reason = text_member(s, "reason");
  p.kind = text_member(s, "kind");
  p.outcome = text_member(s, "outcome");
  p.horizon = int(number_member(s, "horizon", DEFAULT_HORIZON));
  p.horizon_assumed = flag_member(s, "horizon_assumed");
  p.fill_date = text_member(s, "fill_date");
  p.fill_price = number_member(s, "fill_price", 0);
  p.exit_date = text_member(s, "exit_date");
  p.exit_price = number_member(s, "exit_price", 0);
  p.return_pct = number_member(s, "return_pct", 0);
  p.r_multiple = number_member(s, "r_multiple", 0);
  p.mae_r = number_member(s, "mae_r", 0);
  p.mfe_r = number_member(s, "mfe_r", 0);
  p.sessions_held = int(number_member(s, "sessions_held", 0));
  p.target_2_reached = flag_member(s, "target_2_reached");
  if (const auto& b = member_or_null(s, "baseline_r"); b.is_number()) p.baseline_r = b.get<double>();
  p.baseline_outcome = text_member(s, "baseline_outcome");
  return p;
}

std::vector<LedgerEntry> ledger_entries(report::SqlReportStore& store, const report::PlanFilter& filter) {
  const auto bias_of = biases(store);
  std::vector<LedgerEntry> out;
  for (const auto& scored : store.scored_plans(filter)) {
    const auto& p = scored.plan;
    const std::string brief_market = p.market_type == "ETF" ? "A" : p.market_type;
    const auto bias = bias_of.find({brief_market, p.date});
    LedgerEntry e;
    e.code = p.code;
    e.date = p.date;
    e.market = p.market_type;
    e.action = text_member(p.decision, "action");
    e.confidence = text_member(p.decision, "confidence");
    e.strategy_mode = text_member(p.decision, "strategy_mode");
    e.bias = bias != bias_of.end() ? bias->second : "";
    e.check = p.check;
    e.score = plan_score_from_json(scored.score);
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace quorvel::ledger
