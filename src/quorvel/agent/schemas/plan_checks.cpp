#include "quorvel/agent/schemas/plan_checks.h"

#include <cmath>
#include <algorithm>
#include <regex>

#include <fmt/format.h>

#include "quorvel/utils/json_values.h"

namespace quorvel::agent::schemas {

namespace {

using Json = nlohmann::ordered_json;

// Numbers as people read them: at most four decimals, no trailing zeros.
std::string num(double v) {
  std::string s = fmt::format("{:.4f}", v);
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

bool is_buy(const StockDecision& d) { return d.action == "强烈买入" || d.action == "建议买入" || d.action == "谨慎买入"; }

PlanCheck check(const char* name, bool hard, bool passed, const char* label, std::string detail, Json values) {
  return PlanCheck{name, hard, passed, label, std::move(detail), std::move(values)};
}

// The prompt's outright bans on a buy, in its own words; empty when none applies.
std::vector<std::string> vetoes(const StockDecision& d, const Json& rules) {
  std::vector<std::string> why;
  if (d.direction == "看空") why.push_back("direction 为看空");
  if (d.strategy_mode == "均线压缩") why.push_back("strategy_mode 为均线压缩（突破确认前不入场）");
  if (d.holder_action == "清仓离场") why.push_back("holder_action 为清仓离场");
  if (flag_member(rules, "last_close_at_limit_down")) why.push_back("最近一个交易日收盘封跌停");
  return why;
}

void hard_checks(const StockDecision& d, const Json& constraints, const Json& rules, std::vector<PlanCheck>& out) {
  const auto why = vetoes(d, rules);
  std::string reasons;
  for (const auto& w : why) reasons += (reasons.empty() ? "" : "；") + w;
  out.push_back(check("veto", true, why.empty(), "买入禁令", why.empty() ? "无禁止买入的情形" : reasons + "，不得买入",
                      Json{{"direction", d.direction}, {"strategy_mode", d.strategy_mode}, {"holder_action", d.holder_action}}));
  const double cap = number_member(rules, "effective_max_position_pct");
  const std::optional<double> pos = position_percent(d.position_pct);
  if (std::isfinite(cap)) {
    out.push_back(check("zero_cap", true, cap > 0, "禁止开仓",
                        cap > 0 ? fmt::format("有效仓位上限 {} > 0", num(cap))
                                : fmt::format("有效仓位上限为 {}，不得买入", num(cap)),
                        Json{{"effective_max_position_pct", cap}}));
    const bool ok = pos && *pos <= cap + 1e-9;
    out.push_back(check("position_cap", true, ok, "仓位上限",
                        pos ? fmt::format("position_pct {} {} 有效上限 {}", num(*pos), ok ? "≤" : ">", num(cap))
                            : fmt::format("position_pct “{}” 不是可核验的百分比，有效上限 {}", d.position_pct, num(cap)),
                        Json{{"position_pct", pos ? Json(*pos) : Json(d.position_pct)}, {"effective_max_position_pct", cap}}));
  }
  const double min_rrr = number_member(constraints, "min_rrr");
  const double risk = d.entry_price_high - d.stop_loss;
  if (std::isfinite(min_rrr)) {
    const double rrr = risk > 0 ? (d.target_1 - d.entry_price_high) / risk : 0.0;
    const bool ok = risk > 0 && rrr + 1e-9 >= min_rrr;
    out.push_back(check("min_rrr", true, ok, "盈亏比下限",
                        risk > 0 ? fmt::format("按入场上沿重算 rrr {} {} min_rrr {}", num(rrr), ok ? "≥" : "<", num(min_rrr))
                                 : fmt::format("止损 {} 不低于入场上沿 {}，盈亏比无从计算", num(d.stop_loss),
                                               num(d.entry_price_high)),
                        Json{{"rrr_from_entry_high", rrr}, {"min_rrr", min_rrr}}));
  }
  const double atr = number_member(rules, "atr");
  const double max_stop = number_member(constraints, "max_stop_dist_atr");
  if (std::isfinite(max_stop) && !(atr > 0)) {
    out.push_back(check("stop_distance", true, false, "止损距离", "ATR 缺失，止损距离无法核验",
                        Json{{"atr", nullptr}, {"max_stop_dist_atr", max_stop}}));
  } else if (std::isfinite(max_stop)) {
    const double dist = risk / atr;
    const bool ok = dist <= max_stop + 1e-9;
    out.push_back(check("stop_distance", true, ok, "止损距离",
                        fmt::format("(入场上沿 − 止损) / ATR = {} {} max_stop_dist_atr {}", num(dist), ok ? "≤" : ">",
                                    num(max_stop)),
                        Json{{"stop_dist_atr", dist}, {"max_stop_dist_atr", max_stop}, {"atr", atr}}));
  }
  const double up = number_member(rules, "limit_up"), down = number_member(rules, "limit_down");
  if (std::isfinite(up) && std::isfinite(down)) {
    const bool ok = d.entry_price_low >= down - 1e-9 && d.entry_price_high <= up + 1e-9;
    out.push_back(check("limit_band", true, ok, "涨跌停价",
                        fmt::format("入场区间 {}–{} {} 下一交易日跌停价 {} 至涨停价 {} 之内", num(d.entry_price_low),
                                    num(d.entry_price_high), ok ? "在" : "不在", num(down), num(up)),
                        Json{{"entry_price_low", d.entry_price_low},
                             {"entry_price_high", d.entry_price_high},
                             {"limit_down", down},
                             {"limit_up", up}}));
  }
}

void soft_checks(const StockDecision& d, const Json& pattern_info, const Json& rules, std::vector<PlanCheck>& out) {
  const double atr = number_member(rules, "atr");
  const Json& price = member_or_null(pattern_info, "price_context");
  const bool bottom = d.strategy_mode == "底部反转";
  const double support = number_member(price, bottom ? "low_5d" : "support");
  if (atr > 0) {
    const double below_entry = (d.entry_price_low - d.stop_loss) / atr;
    // A stop on either side of its support but closer than the buffer is taken out by a probe of it.
    const double below_support = std::isfinite(support) ? (support - d.stop_loss) / atr : NAN;
    bool ok = below_entry >= MIN_STOP_BUFFER_ATR - 1e-9;
    if (std::isfinite(below_support)) ok = ok && std::abs(below_support) >= MIN_STOP_BUFFER_ATR - 1e-9;
    std::string detail = fmt::format("止损低于入场下沿 {} ATR", num(below_entry));
    if (std::isfinite(below_support))
      detail += fmt::format("，距{} {} {} ATR", bottom ? "近 5 日低点" : "支撑位", num(support), num(std::abs(below_support)));
    detail += fmt::format("（均须至少 {} ATR）", num(MIN_STOP_BUFFER_ATR));
    Json values{{"stop_below_entry_low_atr", below_entry}, {"min_buffer_atr", MIN_STOP_BUFFER_ATR}};
    if (std::isfinite(below_support)) {
      values[bottom ? "low_5d" : "support"] = support;
      values["stop_below_anchor_atr"] = below_support;
    }
    out.push_back(check("stop_buffer", false, ok, "止损缓冲", std::move(detail), std::move(values)));
  }
  if (d.action == "强烈买入") {
    const bool ok = d.direction == "看多";
    out.push_back(check("strong_buy_direction", false, ok, "强烈买入方向",
                        "强烈买入的 direction 为" + d.direction + (ok ? "" : "，不是看多"),
                        Json{{"direction", d.direction}}));
  }
  const double r3 = number_member(member_or_null(pattern_info, "classic_pivot_points"), "R3");
  if (std::isfinite(r3)) {
    const double highest = std::max(d.target_1, d.target_2);
    const bool ok = highest <= r3 + 1e-9;
    out.push_back(check("target_beyond_r3", false, ok, "目标价与 R3",
                        fmt::format("最高目标 {} {} 周线经典枢轴 R3 {}", num(highest), ok ? "不高于" : "高于", num(r3)),
                        Json{{"target", highest}, {"classic_R3", r3}}));
  }
}

}  // namespace

std::optional<double> position_percent(const std::string& position_pct) {
  static const std::regex plain(R"(^\s*(\d+(?:\.\d+)?)\s*%?\s*(?:(?:-|~|～|至|到)\s*(\d+(?:\.\d+)?)\s*%?\s*)?$)");
  std::smatch m;
  if (!std::regex_match(position_pct, m, plain)) return std::nullopt;
  const double low = std::stod(m[1].str());
  return m[2].matched ? std::max(low, std::stod(m[2].str())) : low;
}

std::vector<PlanCheck> check_plan(const StockDecision& decision, const Json& pattern_info) {
  std::vector<PlanCheck> out;
  if (!is_buy(decision)) return out;
  const Json& rules = member_or_null(pattern_info, "trading_rules");
  hard_checks(decision, member_or_null(pattern_info, "calculated_constraints"), rules, out);
  soft_checks(decision, pattern_info, rules, out);
  return out;
}

bool review_required(const std::vector<PlanCheck>& checks) {
  for (const auto& c : checks)
    if (c.hard && !c.passed) return true;
  return false;
}

Json plan_checks_json(const std::vector<PlanCheck>& checks) {
  Json out = Json::array();
  for (const auto& c : checks)
    out.push_back(Json{{"name", c.name},
                       {"level", c.hard ? "hard" : "soft"},
                       {"passed", c.passed},
                       {"label", c.label},
                       {"detail", c.detail},
                       {"values", c.values}});
  return out;
}

std::vector<std::string> failed_check_lines(const std::vector<PlanCheck>& checks) {
  std::vector<std::string> hard, soft;
  for (const auto& c : checks)
    if (!c.passed) (c.hard ? hard : soft).push_back(c.label + (c.hard ? "（硬性）: " : "（提示）: ") + c.detail);
  hard.insert(hard.end(), soft.begin(), soft.end());
  return hard;
}

std::vector<std::string> failed_check_lines(const Json& plan_checks) {
  std::vector<PlanCheck> checks;
  if (plan_checks.is_array())
    for (const auto& c : plan_checks) {
      if (!c.is_object() || !member_or_null(c, "passed").is_boolean() || !member_or_null(c, "label").is_string() ||
          !member_or_null(c, "detail").is_string())
        continue;
      checks.push_back(PlanCheck{"", member_or_null(c, "level") == "hard", member_or_null(c, "passed").get<bool>(),
                                 member_or_null(c, "label").get<std::string>(), member_or_null(c, "detail").get<std::string>(), {}});
    }
  return failed_check_lines(checks);
}

}  // namespace quorvel::agent::schemas
