#include "quorvel/ledger/ledger_update.h"

#include <map>
#include <vector>

#include "contracts/market_data.h"
#include "quorvel/ledger/plan_score.h"
#include "quorvel/strategy/ai/trading_rules.h"
#include "quorvel/utils/logger.h"
#include "contracts/dates.h"
#include "quorvel/ta/talib_calls.h"

namespace quorvel::ledger {

namespace {

// Sessions read before the earliest plan of an instrument, so that its ATR(14) is settled.
constexpr int WARM_UP_DAYS = 60;
// Results stored per transaction.
constexpr std::size_t SAVE_BATCH = 500;

// Whether shares bought are locked on their purchase day, as the analysis' trading rules say (the
// settlement of an instrument does not change with the day).
bool t_plus_one(const report::StoredPlan& p, const tarnel::BarTable& bars) {
  const strategy::ai::InstrumentFacts inst{p.code, p.name, p.market_type == "ETF" ? "A" : p.market_type,
                                           p.market_type == "ETF", std::nullopt};
  return strategy::ai::trading_rules(inst, bars, "", nlohmann::ordered_json::object(),
                                     nlohmann::ordered_json::object())["settlement"] == "T+1";
}

// The instrument's adjusted bars from before its first plan to `today`, with ATR(14).
tarnel::BarTable bars_of(const std::string& code, const std::string& first_date, const std::string& today) {
  const std::string start = tarnel::date_text(tarnel::parse_date(first_date) - date::days{WARM_UP_DAYS});
  tarnel::BarTable bars = tarnel::get_any_ohlc(code, start, today);
  if (!bars.empty())
    bars.set_column("ATR", quorvel::ta::talib::atr(bars.column("high"), bars.column("low"), bars.column("close"), 14));
  return bars;
}

}  // namespace

UpdateCounts update_ledger(report::SqlReportStore& store, const report::PlanFilter& filter, const std::string& today,
                           const std::function<void(std::size_t, std::size_t)>& progress) {
  std::map<std::string, std::vector<report::StoredPlan>> by_code;
  UpdateCounts counts;
  for (auto& p : store.plans_to_score(filter)) {
    ++counts.plans;
    by_code[p.code].push_back(std::move(p));
  }
  std::vector<report::PlanResult> results;
  std::size_t done = 0;
  for (const auto& [code, plans] : by_code) {  // plans are oldest first
    tarnel::BarTable bars;
    std::string failure;
    try {
      bars = bars_of(code, plans.front().date, today);
    } catch (const std::exception& e) {
      failure = e.what();
      logger.warning("[计划账本] 读取 %s 的K线失败，本次跳过其 %d 个计划: %s", code, plans.size(), failure);
    }
    const bool locked = failure.empty() && t_plus_one(plans.front(), bars);
    for (const auto& p : plans) {
      ++done;
      if (!failure.empty()) {
        ++counts.pending;
        continue;
      }
      PlanToScore plan{p.code, p.date, p.decision, locked, -1};
      const std::string market = p.market_type == "ETF" || p.market_type.empty() ? "A" : p.market_type;
      plan.market_sessions_after = p.date < today ? tarnel::count_trading_days(market, p.date, today) : 0;
      const PlanScore score = score_plan(plan, bars);
      if (score.status == "pending") {
        ++counts.pending;
        continue;
      }
      ++(score.status == "scored" ? counts.scored : counts.not_scorable);
      results.push_back({p.report_id, score.status, score_json(score)});
      counts.results.push_back(p.report_id);
      if (results.size() >= SAVE_BATCH) {
        store.save_plan_results(results);
        results.clear();
      }
    }
    if (progress) progress(done, counts.plans);
  }
  store.save_plan_results(results);
  return counts;
}

}  // namespace quorvel::ledger
