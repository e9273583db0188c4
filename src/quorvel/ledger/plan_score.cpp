#include "quorvel/ledger/plan_score.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "quorvel/utils/json_values.h"
#include "quorvel/utils/number_text.h"
#include "quorvel/utils/text.h"
#include "contracts/dates.h"

namespace quorvel::ledger {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::array<std::string_view, 3> BUY_ACTIONS{"强烈买入", "建议买入", "谨慎买入"};
constexpr std::string_view WAIT_ACTION = "观望等待";
constexpr double NO_PRICE = std::numeric_limits<double>::quiet_NaN();

// The price columns of the bars, in the quote currency.
struct Ohlc {
  const tarnel::BarTable& table;
  const std::vector<double>& open = table.column("open");
  const std::vector<double>& high = table.column("high");
  const std::vector<double>& low = table.column("low");
  const std::vector<double>& close = table.column("close");

  bool usable(std::size_t r) const {
    return std::ranges::all_of(std::array{open[r], high[r], low[r], close[r]},
                               [](double x) { return std::isfinite(x) && x > 0; });
  }
  // The first row of [first, last] with a missing or non-positive price.
  std::optional<std::size_t> unusable_row(std::size_t first, std::size_t last) const {
    for (std::size_t r = first; r <= last; ++r)
      if (!usable(r)) return r;
    return std::nullopt;
  }
};

// The plan's levels in the quote currency; target_2 is NaN when the plan has none.
struct Levels {
  double entry_high = 0, stop = 0, target_1 = 0, target_2 = NO_PRICE;
};

// A position: bought on `fill_row` at `fill`, at that session's open when `filled_at_open`.
struct Trade {
  std::size_t fill_row = 0;
  double fill = 0;
  bool filled_at_open = false;
  Levels levels;
};

struct Walked {
  std::string outcome;
  std::size_t exit_row = 0;
  double exit_price = 0;
  double lowest = 0, highest = 0;  // extremes of the prices the position lived through
  bool target_2_reached = false;
};


// The price member, or the reason it cannot be used.
std::pair<double, std::string> price_member(const Json& d, const char* key) {
  const Json& v = member_or_null(d, key);
  if (v.is_null()) return {0, fmt::format("缺少价格 {}", key)};
  double x = 0;
  try {
    x = to_float(v, key);
  } catch (const Error&) {
    return {0, fmt::format("价格 {} 不是数值：{}", key, to_text(v))};
  }
  if (!std::isfinite(x) || x <= 0) return {0, fmt::format("价格 {} 为零或无效：{}", key, number_text(x))};
  return {x, ""};
}

// The buy's levels, or the reason the plan cannot be scored.
std::pair<Levels, std::string> buy_levels(const Json& d) {
  Levels lv;
  for (auto [key, value] : {std::pair{"entry_price_high", &lv.entry_high}, std::pair{"stop_loss", &lv.stop},
                            std::pair{"target_1", &lv.target_1}}) {
    auto [x, error] = price_member(d, key);
    if (!error.empty()) return {lv, error};
    *value = x;
  }
  if (lv.stop >= lv.entry_high)
    return {lv, fmt::format("止损 {} 不低于买入区间上沿 {}", number_text(lv.stop), number_text(lv.entry_high))};
  if (lv.target_1 <= lv.entry_high)
    return {lv, fmt::format("目标一 {} 不高于买入区间上沿 {}", number_text(lv.target_1), number_text(lv.entry_high))};
  if (auto [x, error] = price_member(d, "target_2"); error.empty()) lv.target_2 = x;
  return {lv, ""};
}

std::pair<int, bool> horizon_of(const Json& d) {
  constexpr std::string_view UNIT = "个交易日";
  const std::string text = trim_text(to_text(member_or_null(d, "holding_period")));
  if (text.ends_with(UNIT)) {
    const std::string digits = text.substr(0, text.size() - UNIT.size());
    const bool number = !digits.empty() && digits.size() <= 3 &&
                        std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; });
    if (number && std::stoi(digits) > 0) return {std::stoi(digits), false};
  }
  return {DEFAULT_HORIZON, true};
}

std::optional<std::size_t> row_of(const tarnel::BarTable& bars, const std::string& date) {
  const auto day = tarnel::try_parse_date(date);
  if (!day) return std::nullopt;
  const auto& index = bars.index();
  const auto it = std::lower_bound(index.begin(), index.end(), *day);
  if (it == index.end() || *it != *day) return std::nullopt;
  return std::size_t(it - index.begin());
}

// A score without measures: only what the plan itself says is kept.
PlanScore unscored(const PlanScore& s, std::string status, std::string reason) {
  PlanScore out;
  out.status = std::move(status);
  out.reason = std::move(reason);
  out.kind = s.kind;
  out.horizon = s.horizon;
  out.horizon_assumed = s.horizon_assumed;
  return out;
}

PlanScore pending(const PlanScore& s, std::string_view stage, std::size_t known, std::size_t needed) {
  return unscored(s, "pending", fmt::format("{}：分析日之后有 {} 个交易日的K线，需要 {} 个", stage, known, needed));
}

PlanScore bad_bar(const PlanScore& s, const Ohlc& b, std::size_t row) {
  return unscored(s, "not_scorable", fmt::format("K线价格缺失或无效：{}", b.table.date_at(row)));
}

// The position from its fill through the end of the horizon: its exit and what it lived through.
// Every session of [fill_row, fill_row + horizon] must be usable.
Walked walk(const Ohlc& b, const Trade& t, int horizon, bool t_plus_one) {
  const Levels& lv = t.levels;
  Walked w;
  w.lowest = w.highest = t.fill;
  const auto see = [&w](double price) {
    w.lowest = std::min(w.lowest, price);
    w.highest = std::max(w.highest, price);
  };
  const auto leave = [&w](const char* outcome, std::size_t row, double price) {
    w.outcome = outcome;
    w.exit_row = row;
    w.exit_price = price;
  };
  const std::size_t last = t.fill_row + std::size_t(horizon);
  for (std::size_t r = t.fill_row; r <= last; ++r) {
    const bool first = r == t.fill_row;
    const bool whole = !first || t.filled_at_open;  // the session's high came after the fill
    if (whole && b.high[r] >= lv.target_2) w.target_2_reached = true;
    if (!w.outcome.empty()) continue;
    if (!(first && t_plus_one)) {
      if (!first && b.open[r] <= lv.stop)
        leave("stop", r, b.open[r]);
      else if (b.low[r] <= lv.stop)
        leave("stop", r, lv.stop);
      else if (!first && b.open[r] >= lv.target_1)
        leave("target_1", r, b.open[r]);
      else if (whole && b.high[r] >= lv.target_1)
        leave("target_1", r, lv.target_1);
    }
    if (!w.outcome.empty()) {
      if (!first) see(b.open[r]);
      see(w.exit_price);
      continue;
    }
    see(b.low[r]);
    see(b.close[r]);
    if (whole) see(b.high[r]);
    if (r == last) leave("horizon", r, b.close[r]);
  }
  return w;
}

double r_of(const Trade& t, double price) { return (price - t.fill) / (t.fill - t.levels.stop); }

// The first fill of the window's known sessions.
std::optional<Trade> first_fill(const Ohlc& b, std::size_t day, std::size_t window_end, const Levels& lv) {
  for (std::size_t r = day + 1; r <= window_end; ++r)
    if (b.open[r] > lv.stop && b.low[r] <= lv.entry_high)
      return Trade{r, std::min(b.open[r], lv.entry_high), b.open[r] <= lv.entry_high, lv};
  return std::nullopt;
}

// The analysis day's ATR, when the bars carry a usable one.
std::optional<double> analysis_atr(const tarnel::BarTable& bars, std::size_t day) {
  if (!bars.has_column("ATR")) return std::nullopt;
  const double atr = bars.at("ATR", day);
  return std::isfinite(atr) && atr > 0 ? std::optional(atr) : std::nullopt;
}

// The naive entry at the next session's open, its stop and target 1 as far away in ATR as the plan's.
Trade baseline_trade(const Ohlc& b, std::size_t day, const Levels& lv, double atr) {
  const double stop_atr = (lv.entry_high - lv.stop) / atr, target_atr = (lv.target_1 - lv.entry_high) / atr;
  const double open = b.open[day + 1];
  return Trade{day + 1, open, true, Levels{open, open - stop_atr * atr, open + target_atr * atr, NO_PRICE}};
}

PlanScore score_buy(PlanScore s, const PlanToScore& plan, const Ohlc& b, std::size_t day, const Levels& lv) {
  const std::size_t known = b.table.rows() - day - 1, h = std::size_t(s.horizon);
  const std::size_t window_end = day + std::min(known, std::size_t(FILL_WINDOW));
  if (auto bad = b.unusable_row(day + 1, window_end)) return bad_bar(s, b, *bad);
  const auto trade = first_fill(b, day, window_end, lv);
  if (!trade && known < std::size_t(FILL_WINDOW)) return pending(s, "成交窗口未走完", known, FILL_WINDOW);
  s.outcome = "not_filled";
  if (trade) {
    const std::size_t needed = trade->fill_row - day + h;
    if (known < needed) return pending(s, "持有期未走完", known, needed);
    if (auto bad = b.unusable_row(trade->fill_row, trade->fill_row + h)) return bad_bar(s, b, *bad);
    const Walked w = walk(b, *trade, s.horizon, plan.t_plus_one);
    s.outcome = w.outcome;
    s.fill_date = b.table.date_at(trade->fill_row);
    s.fill_price = trade->fill;
    s.exit_date = b.table.date_at(w.exit_row);
    s.exit_price = w.exit_price;
    s.return_pct = (w.exit_price / trade->fill - 1) * 100;
    s.r_multiple = r_of(*trade, w.exit_price);
    s.mae_r = r_of(*trade, w.lowest);
    s.mfe_r = r_of(*trade, w.highest);
    s.sessions_held = int(w.exit_row - trade->fill_row);
    s.target_2_reached = w.target_2_reached;
  }
  if (const auto atr = analysis_atr(b.table, day)) {
    if (known < 1 + h) return pending(s, "基准持有期未走完", known, 1 + h);
    if (auto bad = b.unusable_row(day + 1, day + 1 + h)) return bad_bar(s, b, *bad);
    const Trade base = baseline_trade(b, day, lv, *atr);
    const Walked w = walk(b, base, s.horizon, plan.t_plus_one);
    s.baseline_r = r_of(base, w.exit_price);
    s.baseline_outcome = w.outcome;
  }
  s.status = "scored";
  return s;
}

PlanScore score_forward(PlanScore s, const Ohlc& b, std::size_t day) {
  const std::size_t known = b.table.rows() - day - 1, h = std::size_t(s.horizon);
  if (known < h) return pending(s, "观察期未走完", known, h);
  for (std::size_t r : {day, day + h})
    if (!std::isfinite(b.close[r]) || b.close[r] <= 0) return bad_bar(s, b, r);
  s.status = "scored";
  s.outcome = "forward";
  s.exit_date = b.table.date_at(day + h);
  s.exit_price = b.close[day + h];
  s.return_pct = (b.close[day + h] / b.close[day] - 1) * 100;
  s.sessions_held = s.horizon;
  return s;
}

}  // namespace

PlanScore score_plan(const PlanToScore& plan, const tarnel::BarTable& bars) {
  PlanScore s;
  std::tie(s.horizon, s.horizon_assumed) = horizon_of(plan.decision);
  const std::string action = trim_text(to_text(member_or_null(plan.decision, "action")));
  const bool buy = std::ranges::find(BUY_ACTIONS, action) != BUY_ACTIONS.end();
  if (!buy && action != WAIT_ACTION) return unscored(s, "not_scorable", "操作建议无法识别：" + quoted_text(action));
  s.kind = buy ? "buy" : "forward";
  Levels levels;
  if (buy) {
    std::string error;
    std::tie(levels, error) = buy_levels(plan.decision);
    if (!error.empty()) return unscored(s, "not_scorable", error);
  }
  for (const char* column : {"open", "high", "low", "close"})
    if (!bars.has_column(column)) return unscored(s, "not_scorable", fmt::format("K线缺少 {} 列", column));
  const auto day = row_of(bars, plan.date);
  if (!day) return unscored(s, "not_scorable", fmt::format("分析日 {} 没有K线", plan.date));
  const bool none_after = *day + 1 == bars.rows();
  if (none_after && plan.market_sessions_after > FILL_WINDOW + s.horizon)
    return unscored(s, "not_scorable", "停牌或退市：分析日之后没有K线");
  const Ohlc b{bars};
  return buy ? score_buy(std::move(s), plan, b, *day, levels) : score_forward(std::move(s), b, *day);
}

Json score_json(const PlanScore& score) {
  const auto text = [](const std::string& t) { return t.empty() ? Json() : Json(t); };
  const auto ratio = [](double x) { return Json(round_half_even(x, 4)); };
  const bool filled = !score.fill_date.empty(), exited = !score.exit_date.empty();
  Json j = Json::object();
  j["status"] = score.status;
  j["reason"] = text(score.reason);
  j["kind"] = text(score.kind);
  j["outcome"] = text(score.outcome);
  j["horizon"] = score.horizon;
  j["horizon_assumed"] = score.horizon_assumed;
  j["fill_date"] = text(score.fill_date);
  j["fill_price"] = filled ? Json(score.fill_price) : Json();
  j["exit_date"] = text(score.exit_date);
  j["exit_price"] = exited ? Json(score.exit_price) : Json();
  j["return_pct"] = exited ? ratio(score.return_pct) : Json();
  j["r_multiple"] = filled ? ratio(score.r_multiple) : Json();
  j["mae_r"] = filled ? ratio(score.mae_r) : Json();
  j["mfe_r"] = filled ? ratio(score.mfe_r) : Json();
  j["sessions_held"] = exited ? Json(score.sessions_held) : Json();
  j["target_2_reached"] = filled ? Json(score.target_2_reached) : Json();
  j["baseline_r"] = score.baseline_r ? ratio(*score.baseline_r) : Json();
  j["baseline_outcome"] = text(score.baseline_outcome);
  return j;
}

}  // namespace quorvel::ledger
