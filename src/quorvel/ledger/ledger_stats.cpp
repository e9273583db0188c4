#include "quorvel/ledger/ledger_stats.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace quorvel::ledger {

namespace {

using Rows = std::vector<const LedgerEntry*>;

struct Dimension {
  const char* name;
  std::string LedgerEntry::*field;
  std::vector<std::string> order;  // the usual values in the order shown; others follow by text
};

const std::vector<Dimension>& dimensions() {
  static const std::vector<Dimension> dims{
      {"market", &LedgerEntry::market, {"A", "HK", "US", "ETF"}},
      {"action", &LedgerEntry::action, {"强烈买入", "建议买入", "谨慎买入", "观望等待"}},
      {"confidence", &LedgerEntry::confidence, {"高", "中", "低"}},
      {"strategy_mode", &LedgerEntry::strategy_mode, {}},
      {"bias", &LedgerEntry::bias, {"偏多", "震荡", "偏空", "避险"}},
      {"check", &LedgerEntry::check, {"通过", "需复核", "未核验"}},
  };
  return dims;
}

bool is_filled_buy(const PlanScore& s) { return s.kind == "buy" && s.outcome != "not_filled"; }

std::optional<double> share(int k, int n) {
  if (n == 0) return std::nullopt;
  return double(k) / n;
}

std::optional<double> mean(const std::vector<double>& v) {
  if (v.empty()) return std::nullopt;
  double sum = 0;
  for (double x : v) sum += x;
  return sum / double(v.size());
}

std::optional<double> median(std::vector<double> v) {
  if (v.empty()) return std::nullopt;
  std::sort(v.begin(), v.end());
  const std::size_t mid = v.size() / 2;
  return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

int winners(const std::vector<double>& r) {
  return int(std::count_if(r.begin(), r.end(), [](double x) { return x > 0; }));
}

// Per buy signal: unfilled buys count 0 R.
std::optional<double> expectancy(const std::vector<double>& r, int not_filled) {
  if (r.empty() && not_filled == 0) return std::nullopt;
  double sum = 0;
  for (double x : r) sum += x;
  return sum / double(r.size() + std::size_t(not_filled));
}

TradeSummary trades(const std::vector<double>& r) {
  return {int(r.size()), share(winners(r), int(r.size())), mean(r)};
}

GroupStats group_stats(std::string dimension, std::string value, const Rows& rows) {
  GroupStats g;
  g.dimension = std::move(dimension);
  g.value = std::move(value);
  g.plans = int(rows.size());
  std::vector<double> r, sessions, forward;
  int target_1 = 0, negative_forward = 0;
  for (const LedgerEntry* e : rows) {
    const PlanScore& s = e->score;
    if (s.kind == "forward") {
      forward.push_back(s.return_pct);
      negative_forward += s.return_pct < 0;
    } else if (is_filled_buy(s)) {
      r.push_back(s.r_multiple);
      sessions.push_back(s.sessions_held);
      target_1 += s.outcome == "target_1";
    } else if (s.kind == "buy") {
      ++g.not_filled;
    }
  }
  g.filled = int(r.size());
  g.hit_rate = share(winners(r), g.filled);
  g.mean_r = mean(r);
  g.median_r = median(r);
  g.expectancy_r = expectancy(r, g.not_filled);
  g.mean_sessions_held = mean(sessions);
  g.target_1_rate = share(target_1, g.filled);
  g.waits = int(forward.size());
  g.wait_return_pct = mean(forward);
  g.wait_right_rate = share(negative_forward, g.waits);
  return g;
}

// The groups of one dimension: the usual values in their order, then the others by text, the
// empty value last.
std::vector<GroupStats> dimension_groups(const Dimension& d, const Rows& rows) {
  auto rank = [&](const std::string& v) {
    const auto at = std::find(d.order.begin(), d.order.end(), v);
    return std::make_tuple(v.empty(), at - d.order.begin(), v);
  };
  std::vector<std::string> values;
  for (const LedgerEntry* e : rows)
    if (std::find(values.begin(), values.end(), e->*d.field) == values.end()) values.push_back(e->*d.field);
  std::sort(values.begin(), values.end(), [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
  std::vector<GroupStats> out;
  for (const std::string& v : values) {
    Rows members;
    std::copy_if(rows.begin(), rows.end(), std::back_inserter(members), [&](const LedgerEntry* e) { return e->*d.field == v; });
    out.push_back(group_stats(d.name, v, members));
  }
  return out;
}

BaselineStats baseline_stats(const Rows& rows) {
  std::vector<double> plan, naive;
  for (const LedgerEntry* e : rows) {
    if (e->score.kind != "buy" || !e->score.baseline_r) continue;
    naive.push_back(*e->score.baseline_r);
    if (is_filled_buy(e->score)) plan.push_back(e->score.r_multiple);
  }
  return {int(naive.size()), trades(plan), trades(naive)};
}

std::vector<CalibrationRow> calibration(const Rows& rows) {
  std::vector<CalibrationRow> out;
  for (const char* level : {"高", "中", "低"}) {
    std::vector<double> r;
    for (const LedgerEntry* e : rows)
      if (e->confidence == level && is_filled_buy(e->score)) r.push_back(e->score.r_multiple);
    const int k = winners(r), n = int(r.size());
    out.push_back({level, n, k, share(k, n), wilson_interval(k, n)});
  }
  return out;
}

}  // namespace

std::optional<Interval> wilson_interval(int successes, int n, double z) {
  if (n <= 0) return std::nullopt;
  const double p = double(successes) / n, z2 = z * z, nn = n;
  const double centre = p + z2 / (2 * nn);
  const double spread = z * std::sqrt(p * (1 - p) / nn + z2 / (4 * nn * nn));
  const double scale = 1 + z2 / nn;
  return Interval{(centre - spread) / scale, (centre + spread) / scale};
}

LedgerReport build_ledger_report(const std::vector<LedgerEntry>& entries) {
  Rows rows;
  for (const LedgerEntry& e : entries)
    if (e.score.status == "scored") rows.push_back(&e);
  LedgerReport report;
  report.groups.push_back(group_stats("overall", "", rows));
  for (const Dimension& d : dimensions())
    for (GroupStats& g : dimension_groups(d, rows)) report.groups.push_back(std::move(g));
  report.baseline = baseline_stats(rows);
  report.calibration = calibration(rows);
  return report;
}

}  // namespace quorvel::ledger
