#pragma once
// What many scored plans say together: per group of plans, the fills, the hit rate and the R of the
// buys, the forward return of the waits; the naive entry on the same days beside the plans; and the
// stated confidence against the realised hit rate. The definitions, in this one place:
// - Only entries whose score.status is "scored" count; pending and unscorable ones are left out.
// - Groups: all plans ("overall"), then one group per value of market, action, confidence,
//   strategy_mode, bias and check. An empty value (bias not known) is a group of its own.
// - A buy is an entry of kind "buy"; it is filled unless its outcome is "not_filled". R is the
//   score's r_multiple. Every figure below on buys is over the filled buys of the group.
// - Hit rate: the share of filled buys with R > 0. A loser is a filled buy with R <= 0.
// - Mean R and median R (the mean of the two middle values for an even count).
// - Expectancy, R per buy signal: the R a trader can expect from following one buy advice, a buy
//   that never filled counting 0 R: the sum of the filled buys' R over all buys of the group.
// - Mean sessions held, and the share of filled buys whose outcome is "target_1".
// - Waits are entries of kind "forward" (观望等待): the mean forward return, percent, and the share
//   of them whose forward return was negative, "waiting was right".
// - Baseline: the buys whose score carries a baseline_r are the instrument-days of the comparison.
//   On them the naive entry (always filled) gives its count, hit rate and mean R, and the plans
//   give theirs over the ones that filled.
// - Calibration: per stated confidence 高, 中, 低, the filled buys, their winners, the hit rate and
//   its 95% Wilson score interval: for k winners of n and z = 1.96, p = k / n,
//   (p + z²/2n ± z·sqrt(p(1 - p)/n + z²/4n²)) / (1 + z²/n).
// Rates are fractions in [0, 1]; a figure without anything to stand on (no filled buys, no waits)
// is absent.
//
// Pure functions over values; thread-safe.
#include <optional>
#include <string>
#include <vector>

#include "quorvel/ledger/plan_score.h"

namespace quorvel::ledger {

inline constexpr double WILSON_Z = 1.96;

// One stored plan and its score.
struct LedgerEntry {
  std::string code;
  std::string date;           // analysis day "YYYY-MM-DD"
  std::string market;         // "A", "HK", "US", "ETF"
  std::string action;         // 强烈买入 / 建议买入 / 谨慎买入 / 观望等待
  std::string confidence;     // 高 / 中 / 低
  std::string strategy_mode;
  std::string bias;           // 偏多 / 震荡 / 偏空 / 避险; "" when not known
  std::string check;          // "通过", "需复核", "未核验"
  PlanScore score;
};

struct GroupStats {
  std::string dimension;  // "overall", "market", "action", "confidence", "strategy_mode", "bias", "check"
  std::string value;      // the entries' value; "" for overall
  int plans = 0;
  int filled = 0;
  int not_filled = 0;
  std::optional<double> hit_rate;
  std::optional<double> mean_r;
  std::optional<double> median_r;
  std::optional<double> expectancy_r;
  std::optional<double> mean_sessions_held;
  std::optional<double> target_1_rate;
  int waits = 0;
  std::optional<double> wait_return_pct;  // mean forward return of the waits, percent
  std::optional<double> wait_right_rate;  // share of waits with a negative forward return
};

// Trades of one side of the baseline comparison.
struct TradeSummary {
  int count = 0;
  std::optional<double> hit_rate;
  std::optional<double> mean_r;
};

struct BaselineStats {
  int days = 0;        // buys carrying a baseline R
  TradeSummary plan;   // the plans that filled on those days
  TradeSummary naive;  // the naive entries on those days
};

struct Interval {
  double low = 0;
  double high = 0;
};

struct CalibrationRow {
  std::string confidence;  // 高, 中, 低
  int filled = 0;
  int winners = 0;
  std::optional<double> hit_rate;
  std::optional<Interval> interval;  // 95% Wilson score interval of the hit rate
};

struct LedgerReport {
  std::vector<GroupStats> groups;  // overall first; then by dimension, values in their usual order
  BaselineStats baseline;
  std::vector<CalibrationRow> calibration;  // always 高, 中, 低
};

LedgerReport build_ledger_report(const std::vector<LedgerEntry>& entries);

// The Wilson score interval of `successes` out of `n`; absent when n is 0.
std::optional<Interval> wilson_interval(int successes, int n, double z = WILSON_Z);

}  // namespace quorvel::ledger
