#include "quorvel/ledger/ledger_entries.h"

#include <map>
#include <utility>

#include "quorvel/strategy/ai/market_bias.h"
#include "quorvel/utils/text.h"

namespace quorvel::ledger {

namespace {

using Json = nlohmann::ordered_json;

std::string text_of(const Json& map, const char* key) {
  const auto it = map.find(key);
  return it != map.end() && it->is_string() ? it->get<std::string>() : std::string();
}

bool flag_of(const Json& map, const char* key) {
  const auto it = map.find(key);
  return it != map.end() && it->is_boolean() && it->get<bool>();
}

double number_of(const Json& map, const char* key, double fallback = 0) {
  const auto it = map.find(key);
  return it != map.end() && it->is_number() ? it->get<double>() : fallback;
}

// The bias of every stored brief by (market, day); the newest brief of a day counts.
std::map<std::pair<std::string, std::string>, std::string> biases(report::SqliteReportStore& store) {
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
  p.status = text_of(s, "status");
  p.reason = text_of(s, "reason");
  p.kind = text_of(s, "kind");
  p.outcome = text_of(s, "outcome");
  p.horizon = int(number_of(s, "horizon", DEFAULT_HORIZON));
  p.horizon_assumed = flag_of(s, "horizon_assumed");
  p.fill_date = text_of(s, "fill_date");
  p.fill_price = number_of(s, "fill_price");
  p.exit_date = text_of(s, "exit_date");
  p.exit_price = number_of(s, "exit_price");
  p.return_pct = number_of(s, "return_pct");
  p.r_multiple = number_of(s, "r_multiple");
  p.mae_r = number_of(s, "mae_r");
  p.mfe_r = number_of(s, "mfe_r");
  p.sessions_held = int(number_of(s, "sessions_held"));
  p.target_2_reached = flag_of(s, "target_2_reached");
  if (const auto it = s.find("baseline_r"); it != s.end() && it->is_number()) p.baseline_r = it->get<double>();
  p.baseline_outcome = text_of(s, "baseline_outcome");
  return p;
}

std::vector<LedgerEntry> ledger_entries(report::SqliteReportStore& store, const report::PlanFilter& filter) {
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
    e.action = text_of(p.decision, "action");
    e.confidence = text_of(p.decision, "confidence");
    e.strategy_mode = text_of(p.decision, "strategy_mode");
    e.bias = bias != bias_of.end() ? bias->second : "";
    e.check = p.check;
    e.score = plan_score_from_json(scored.score);
    out.push_back(std::move(e));
  }
  return out;
}

}  // namespace quorvel::ledger
