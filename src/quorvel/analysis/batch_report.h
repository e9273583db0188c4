#pragma once
// What a watchlist run tells its user: one record per instrument, a log line as each one ends, the
// progress line of a terminal, the closing table of verdicts and decisions, and the cost line.
// Pure functions over values; thread-safe.
#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "quorvel/agent/core/usage_ledger.h"

namespace quorvel::batch {

enum class Status {
  pending,      // not started (yet)
  running,      // analysis under way
  analysed,     // analysed, stored and published by this run
  stored,       // analysed by an earlier run and stored; skipped
  failed,       // ended without a usable decision; `reason` says why
  interrupted,  // under way when the run was cut short
};

struct Outcome {
  std::string code;
  std::string name;
  std::optional<std::string> market_type;  // "A", "HK", "US", "ETF"; absent for an unknown code
  std::string date;                        // the day the analysis is about: the last bar on or before `requested`
  Status status = Status::pending;
  std::string verdict;                             // "BUY", "SELL" or "WATCH"; empty when none
  std::optional<nlohmann::ordered_json> decision;  // the validated decision record (23 fields)
  std::string reason;                              // failures only
  double seconds = 0.0;                            // wall time of the analysis
  std::string requested;                           // the requested day, moved to the market's last closed session
  int sessions_behind = 0;                         // trading days between `date` and `requested`
  bool review_required = false;                    // the stored plan failed a hard rule check ("需复核")
  std::vector<std::string> failed_checks;          // the failed checks, hard first
};

// Finished instruments (analysed, stored, failed, interrupted) count as done.
bool is_done(Status s);

struct Counts {
  std::size_t total = 0, done = 0, analysed = 0, stored = 0, failed = 0, interrupted = 0;
  std::size_t worked = 0;  // done after an analysis attempt of this run (analysed or failed in analysis)
};
Counts count_outcomes(const std::vector<Outcome>& outcomes);

// "分析 12/100 | 失败 1 | 用时 10.2s | 预计剩余 75s": the rest is estimated from the pace of the
// instruments this run worked on ("--" before the first one ends).
std::string progress_line(const Counts& counts, double elapsed_seconds);

// "[12/100] sh.600519 贵州茅台 → BUY | 建议买入 / 看多 | 1.02s", or the failure and its reason.
std::string outcome_line(const Outcome& outcome, std::size_t position, std::size_t total);

// The table of every instrument in watchlist order: code, name, the day its data is of (marked when
// stale), verdict, action, direction, entry range, stop, targets, reward/risk, confidence and the
// status (with the reason of a failure).
void print_table(std::ostream& out, const std::vector<Outcome>& outcomes);

// Default ceiling of the suggested positions of one market and day, percent of the account.
inline constexpr double DEFAULT_MAX_EXPOSURE_PCT = 100.0;

// The suggested positions of the buys of one account and the requested day (a stale instrument's
// plan is acted on that day too): A-shares and funds share the CNY account, Hong Kong and US have
// their own.
struct Exposure {
  std::string market;  // "A股/ETF", "港股", "美股"
  std::string date;
  double total_pct = 0;
  std::vector<std::pair<std::string, double>> positions;  // code, percent; watchlist order
  std::vector<std::string> unreadable;                    // buys whose position_pct is not a percentage
};
std::vector<Exposure> exposures(const std::vector<Outcome>& outcomes);

// "仓位合计 A股/ETF 2023-02-03：120%，超过上限 100%，需复核：510050 30%、510300 30%、…"
std::string exposure_line(const Exposure& exposure, double limit_pct);

// "共 100 只：新分析 95，已存储 2，失败 3，未完成 0"
std::string count_line(const Counts& counts);

// "LLM 调用 96 次（失败 1）| 输入 tokens 523000（缓存命中 410000）| 输出 tokens 120000 | 用时 13.62 秒"
std::string cost_line(const agent::core::UsageTotals& usage, double wall_seconds);

// Everything the closing report of a run is made of.
struct Closing {
  std::string date;  // the requested day
  std::vector<Outcome> outcomes;
  double max_exposure_pct = DEFAULT_MAX_EXPOSURE_PCT;
  agent::core::UsageTotals usage;  // of this run only
  double wall_seconds = 0;
};

// The ways the closing report can be written; the first is the default.
inline const std::vector<std::string> RESULT_FORMATS{"table", "csv", "json"};

// One CSV row per instrument in watchlist order under a header line, one field per value: code,
// name, market, date, requested, sessions_behind, verdict, action, direction, entry_low, entry_high,
// stop_loss, target_1, target_2, rrr, confidence, position_pct, review_required, status, reason. A
// price or ratio the decision does not give is an empty field.
void print_csv(std::ostream& out, const std::vector<Outcome>& outcomes);

// The whole closing report as one JSON object: date, results (one per instrument, with its decision
// record or null), exposures, counts and usage (a token count no reply carried is null). Texts
// from outside pass the filter of outside text.
nlohmann::ordered_json closing_json(const Closing& closing);

// The closing report in `format` (one of RESULT_FORMATS). A table is followed on `out` by the
// exposure, count and cost lines; for CSV and JSON `out` holds nothing but the data, and those lines
// go to `notes` (JSON carries them as values too).
void print_closing(std::ostream& out, std::ostream& notes, const std::string& format, const Closing& closing);

}  // namespace quorvel::batch
