#include "quorvel/agent/offline/offline_stock_plan.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "quorvel/agent/offline/offline_stock_claims.h"
#include "quorvel/agent/offline/offline_stock_decision.h"
#include "quorvel/agent/offline/offline_stock_exits.h"
#include "quorvel/agent/offline/offline_stock_mode.h"
#include "quorvel/agent/offline/offline_stock_setup.h"
#include "quorvel/utils/number_text.h"
#include "quorvel/utils/price_limits.h"

namespace quorvel::agent::offline {

namespace {

bool finite(double v) { return std::isfinite(v); }

std::string direction_of(const StockReading& r) {
  const bool momentum_up = r.macd_hist > 0 || r.macd > r.macd_signal;
  if (r.close > r.ema20 && r.ema5 > r.ema20 && momentum_up) return "看多";
  if (r.close < r.ema20 && r.ema5 < r.ema20 && r.macd_hist < 0) return "看空";
  return "中性";
}

// "20日日均成交额约 1.23 亿港币" from a mean daily turnover in the quote currency.
std::string turnover_text(const StockPromptFacts& f, double turnover) {
  const double wan = turnover / 1e4;
  const std::string unit = f.market == "HK" ? "港币" : f.market == "US" ? "美元" : "元";
  return "20日日均成交额约 " + (wan >= 1e4 ? fmt::format("{:.2f} 亿", wan / 1e4) : fmt::format("{:.0f} 万", wan)) +
         unit;
}

// The position cap and its liquidity note from trading_rules.
void cap_from_rules(const StockPromptFacts& f, const MarketRules& m, TradePlan& p) {
  p.position_cap = m.effective_cap;
  p.cap_basis = "trading_rules.effective_max_position_pct " + fmt::format("{}%", m.effective_cap) + "（" + cap_list(m) +
                " 中的最小者）";
  if (m.liquidity_tier.empty() || !finite(m.avg_turnover)) return;
  p.liquidity_note = turnover_text(f, m.avg_turnover) + "（" + m.turnover_basis + "），流动性" + m.liquidity_tier;
  if (f.market == "ETF" && m.liquidity_tier == "差") p.confidence_cuts.push_back("ETF 流动性差");
}

// HK and ETF liquidity tiers by mean daily turnover (quote currency), for prompts without
// trading_rules; returns the cap they impose (100 when none).
double liquidity_cap(const StockPromptFacts& f, const StockReading& r, TradePlan& p) {
  const double v = r.turnover_20d;
  if (!finite(v) || (f.market != "HK" && f.market != "ETF")) return 100;
  const std::string amount = turnover_text(f, v);
  if (f.market == "HK") {
    if (v >= 5e7) return p.liquidity_note = amount + "，流动性充足", 100;
    if (v >= 1e7) return p.liquidity_note = amount + "，流动性偏弱，仓位≤20%且分批进出", 20;
    p.liquidity_note = amount + "，属仙股区间，强制观望";
    return 0;
  }
  if (v >= 1e8) return p.liquidity_note = amount + "，流动性充足", 100;
  if (v >= 2e7) return p.liquidity_note = amount + "，流动性一般，仓位≤20%", 20;
  p.liquidity_note = amount + "，流动性差，置信度下调且仓位≤10%";
  p.confidence_cuts.push_back("ETF 流动性差");
  return 10;
}

void position_cap(const StockPromptFacts& f, const StockReading& r, TradePlan& p) {
  if (r.rules && finite(r.rules->effective_cap)) return cap_from_rules(f, *r.rules, p);
  const double liquidity = liquidity_cap(f, r, p);
  if (!r.constraints) return;
  const bool high_vol = r.vol_regime == "high_vol";
  p.position_cap = std::min(r.constraints->max_position_pct * (high_vol ? 0.75 : 1.0), liquidity);
  p.cap_basis =
      fmt::format("max_position_pct {}%{}{}", r.constraints->max_position_pct, high_vol ? "，high_vol 降至 75%" : "",
                  liquidity < 100 ? fmt::format("，流动性上限 {}%", liquidity) : "");
}

// The last session closed at its limit-down price (within half a percent of the band).
bool closed_limit_down(const StockPromptFacts& f, const StockReading& r) {
  double band = r.rules && finite(r.rules->limit_band_pct) ? r.rules->limit_band_pct / 100 : 0;
  if (!r.rules && f.market == "A" && !f.daily.empty()) band = quorvel::limit_band(f.stock_code, f.daily.index().back());
  return band > 0 && finite(r.prev_close) && r.close / r.prev_close - 1 <= -(band - 0.005);
}

// The first rule, before any level is priced, that forbids a new position; empty when none does.
std::string entry_ban(const StockPromptFacts& f, const StockReading& r, const TradePlan& p) {
  if (!r.constraints) return "calculated_constraints 缺失，无法核验硬约束";
  if (r.daily_rows < 30) return "日线数据不足 30 根，置信度强制为低";
  if (r.suspect_data) return "疑似停牌/数据异常";
  if (!finite(r.atr) || !finite(r.ema20)) return "ATR 或 EMA20 缺失，无法定价止损";
  if (f.bias == "避险") return "市场 bias=避险，禁止新开仓";
  if (p.direction == "看空") return "方向为看空，不给任何等级的买入";
  if (p.strategy_mode == "均线压缩" || p.strategy_mode == "空仓等待")
    return "策略模式为" + p.strategy_mode + "，不开新仓";
  if (has_flag(r, "黄昏星")) return "risk_flags 含黄昏星，顶部警示优先观望";
  if (has_flag(r, "RS绝对弱势") && r.tier != "强势档") return "RS绝对弱势且非强势档，不入场";
  if (closed_limit_down(f, r)) return "最新交易日跌停，次日不开新仓";
  if (r.rules && finite(r.rules->effective_cap) && r.rules->effective_cap <= 0)
    return "trading_rules.effective_max_position_pct 为 0：" + zero_cap_reasons(*r.rules);
  if (p.position_cap < 1) return p.liquidity_note.empty() ? "仓位上限不足 1%" : p.liquidity_note;
  if (p.strategy_mode == "趋势跟随" && r.dist_ema20_atr > r.deviation_cap && !p.squeeze_exemption)
    return exact_claim("收盘偏离 EMA20 的 ATR 倍数", r.dist_ema20_atr, r.deviation_cap) + "（" + r.tier +
           "上限，防鞭打）";
  return "";
}

void grade_buy(const StockReading& r, const BuyCandidate& b, TradePlan& p) {
  const Constraints& k = *r.constraints;
  p.score_rrr = rrr_score(b.rrr, b.rrr_max, k.min_rrr);
  p.score_total = k.base_confidence_score + p.score_rrr;
  p.buy_threshold = (p.strategy_mode == "底部反转" || p.strategy_mode == "区间震荡") ? 2.0 : 2.5;
  // Decided on the prices themselves: the checker recomputes the ratio from them, not from b.rrr.
  const double exact_rrr = (b.target_1 - b.entry_high) / (b.entry_high - b.stop);
  if (exact_rrr + 1e-9 < k.min_rrr) {
    p.no_buy_reason = fmt::format("rrr {:.3f} 低于 min_rrr {}", exact_rrr, k.min_rrr);
    return;
  }
  p.graded = true;
  const int base_level = p.score_total >= 3.5 && b.rrr >= 1.5 ? 2 : p.score_total >= p.buy_threshold ? 1 : 0;
  if (base_level == 2 && p.direction != "看多")
    p.confidence_cuts.push_back("方向为" + p.direction + "，强烈买入须看多");
  if (has_flag(r, "高潮量")) p.confidence_cuts.push_back("高潮量");
  if (has_flag(r, "放量不涨")) p.confidence_cuts.push_back("放量不涨");
  if (r.vol_regime == "high_vol") p.confidence_cuts.push_back("high_vol 高波动");
  if (r.week_ema5 < r.week_ema20) p.confidence_cuts.push_back("周线 EMA5 低于 EMA20（逆势风险）");
  const int level = base_level - int(p.confidence_cuts.size());
  if (base_level == 0) {
    p.no_buy_reason = fmt::format("总分 {:.2f} < 门槛 {:.1f}，置信度为低", p.score_total, p.buy_threshold);
    return;
  }
  if (level <= 0) {
    p.no_buy_reason = fmt::format("总分 {:.2f}（门槛 {:.1f}）经 {} 次下调后置信度为低", p.score_total, p.buy_threshold,
                                  p.confidence_cuts.size());
    return;
  }
  const std::string action = level == 2 ? "强烈买入" : b.rrr >= 1.5 ? "建议买入" : "谨慎买入";
  const double share = action == "强烈买入" ? 1.0 : action == "建议买入" ? 0.7 : 0.5;
  // The caps were computed under the pre-screen's setup; a different mode may only size down.
  const bool other_setup = !r.strategy_hint.empty() && r.strategy_hint != p.strategy_mode;
  double pct = std::floor(p.position_cap * share * (other_setup ? 0.7 : 1.0));
  if (action == "谨慎买入") pct = std::min(pct, 15.0);
  if (pct < 1) {
    p.no_buy_reason = "仓位上限折算后不足 1%";
    return;
  }
  p.action = action, p.confidence = level == 2 ? "高" : "中", p.position_pct = int(pct);
  p.entry_low = b.entry_low, p.entry_high = b.entry_high, p.stop_loss = b.stop;
  p.target_1 = b.target_1, p.target_2 = b.target_2, p.rrr = b.rrr, p.rrr_max = b.rrr_max;
  const double days = std::ceil((b.target_1 - b.entry_high) / r.atr * 2);
  p.holding_period = fmt::format("{}个交易日", int(std::clamp(days, 3.0, 20.0)));
}

// Holder plan of a wait decision: defence, targets and holding time, or zeros when closing out.
void holder_plan(const StockPromptFacts& f, const StockReading& r, TradePlan& p) {
  const PriceGrid g(r);
  p.exit_signals = active_exit_signals(f, r, p.strategy_mode);
  const bool broken = p.direction == "看空" && r.close < r.support.price;
  const bool warned = has_flag(r, "黄昏星") || has_flag(r, "高潮量") || has_flag(r, "放量不涨");
  p.holder_action = broken                                                         ? "清仓离场"
                    : (p.direction == "看空" || warned || !p.exit_signals.empty()) ? "分批减仓"
                                                                                   : "继续持有";
  if (p.holder_action == "清仓离场" || !finite(r.support.price)) {
    p.holder_defence = {r.support.price, r.support.source};
    return;  // nothing to defend, or no level to defend it with: zeros
  }
  const double atr = finite(r.atr) ? r.atr : 0;
  if (p.holder_action == "继续持有") {
    p.holder_defence = r.close > r.ema20 ? Level{r.ema20, "EMA20"} : Level{r.support.price, r.support.source};
    p.stop_loss = g.round(p.holder_defence.price - 0.5 * atr);
  } else {
    p.holder_defence =
        r.support.price < r.price ? Level{r.support.price, r.support.source} : Level{r.price - atr, "现价 − 1×ATR"};
    p.stop_loss = g.round(p.holder_defence.price);
  }
  const double base = p.holder_action == "继续持有" && finite(r.close) ? r.close : r.price;
  const auto t1 = level_above(r, g, base);
  p.target_1 = t1 ? t1->price : g.round(base + std::max(atr, g.tick()));
  const auto t2 = level_above(r, g, p.target_1, 0.5 * atr);
  p.target_2 = t2 ? t2->price : g.round(p.target_1 + std::max(atr, g.tick()));
  if (p.holder_action == "继续持有" && atr > 0)
    p.holding_period = fmt::format("{}个交易日", int(std::clamp(std::ceil((p.target_1 - base) / atr * 2), 2.0, 20.0)));
}

// The fields of a wait decision: the watched entry zone, the holder plan, zero reward/risk.
void wait_plan(const StockPromptFacts& f, const StockReading& r, TradePlan& p) {
  p.action = "观望等待", p.position_pct = 0, p.rrr = 0, p.rrr_max = 0, p.confidence = "低";
  p.stop_loss = 0, p.target_1 = 0, p.target_2 = 0, p.holding_period = "无";
  p.entry_low = p.watch_low, p.entry_high = p.watch_high;
  holder_plan(f, r, p);
}

void finish(const StockPromptFacts& f, const StockReading& r, TradePlan& p) {
  const PriceGrid g(r);
  p.support = finite(r.support.price) ? g.round(r.support.price) : 0;
  p.resistance = finite(r.resistance.price) ? g.round(r.resistance.price) : 0;
  if (p.support > 0 && !(p.resistance > p.support))
    p.resistance = g.round(p.support + std::max(finite(r.atr) ? r.atr : 0, g.tick()));
  const std::size_t flags = r.risk_flags ? r.risk_flags->size() : 0;
  const double atr_pct = r.atr / r.close * 100;
  p.risk_level = "中";
  if (r.vol_regime == "high_vol" || f.bias == "避险" || r.suspect_data || atr_pct > 5 || flags >= 2)
    p.risk_level = "高";
  else if (atr_pct < 2 && flags == 0 && f.bias == "偏多")
    p.risk_level = "低";
  const bool buy = p.action != "观望等待";
  const double down = buy ? p.stop_loss : p.stop_loss > 0 ? p.stop_loss : p.support;
  const std::string up_action = buy                  ? fmt::format("按计划加仓至上限{}%", p.position_cap)
                                : p.position_cap > 0 ? fmt::format("重新评估买入（仓位≤{}%）", p.position_cap)
                                                     : std::string("重新评估（当前仓位上限为 0，不新开仓）");
  const std::string down_action = buy                             ? "止损离场"
                                  : p.holder_action == "继续持有" ? "减仓50%"
                                  : p.holder_action == "分批减仓" ? "清仓离场"
                                                                  : "保持空仓";
  p.key_watch = fmt::format("升级触发：日收盘站稳{}且量比>1.3→{}；降级触发：跌破{}→{}", g.text(p.resistance), up_action,
                            g.text(down), down_action);
}

// Runs the plan checker on the buy as it will be emitted; a failed hard check (or a block the
// extractor refuses) turns the buy into a wait that says why.
void guard_buy(const StockPromptFacts& f, const StockReading& r, TradePlan& p) {
  const auto checks = emitted_plan_checks(f, p);
  p.checks_run = true;
  if (checks) p.failed_checks = schemas::failed_check_lines(*checks);
  if (checks && !schemas::review_required(*checks)) return;
  p.no_buy_reason = checks ? "计划核验未通过：" + p.failed_checks.front() : "计划核验未通过：决策 JSON 未被提取器接受";
  wait_plan(f, r, p);
  finish(f, r, p);
}

}  // namespace

PriceGrid::PriceGrid(const StockReading& r) : decimals(std::min(r.decimals, 3)) {}
double PriceGrid::tick() const { return std::pow(10.0, -decimals); }
double PriceGrid::round(double v) const { return round_half_even(v, decimals); }
double PriceGrid::floor(double v) const { return round(std::floor(v / tick() + 1e-9) * tick()); }
double PriceGrid::ceil(double v) const { return round(std::ceil(v / tick() - 1e-9) * tick()); }
std::string PriceGrid::text(double v) const { return price_text(v, decimals); }

double rrr_score(double rrr, double rrr_max, double min_rrr) {
  if (rrr >= 2.0 || (rrr_max >= 2.5 && rrr >= 1.5)) return 1.0;
  if (rrr >= 1.5) return 0.5;
  if (rrr >= min_rrr) return 0.3;
  return 0.0;
}

TradePlan plan_trade(const StockPromptFacts& f, const StockReading& r) {
  TradePlan p;
  p.market_sentiment = f.bias == "偏多" ? "看多" : f.bias == "偏空" ? "看空" : "中性";
  p.direction = direction_of(r);
  choose_mode(r, p);
  position_cap(f, r, p);
  p.no_buy_reason = entry_ban(f, r, p);
  if (finite(r.atr) && finite(r.price)) p.candidate = buy_levels(f, r, p);
  if (p.no_buy_reason.empty() && !p.candidate) p.no_buy_reason = p.candidate_problem;
  if (p.no_buy_reason.empty()) grade_buy(r, *p.candidate, p);
  if (p.action == "观望等待") wait_plan(f, r, p);
  finish(f, r, p);
  if (p.action != "观望等待") guard_buy(f, r, p);
  return p;
}

}  // namespace quorvel::agent::offline
