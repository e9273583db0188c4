#include "quorvel/agent/offline/offline_stock_plan.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "quorvel/utils/number_text.h"

namespace quorvel::agent::offline {

namespace {

bool finite(double v) { return std::isfinite(v); }

struct Ctx {
  const StockPromptFacts& f;
  const StockReading& r;
  TradePlan& p;
  int dec;  // decimals of decision prices
  double tick() const { return std::pow(10.0, -dec); }
  double px(double v) const { return round_half_even(v, dec); }
  std::string t(double v) const { return price_text(v, dec); }
};

std::string direction_of(const StockReading& r) {
  const bool momentum_up = r.macd_hist > 0 || r.macd > r.macd_signal;
  if (r.close > r.ema20 && r.ema5 > r.ema20 && momentum_up) return "看多";
  if (r.close < r.ema20 && r.ema5 < r.ema20 && r.macd_hist < 0) return "看空";
  return "中性";
}

void choose_mode(Ctx& c) {
  const auto& r = c.r;
  auto& p = c.p;
  const double spread = (std::max({r.ema5, r.ema10, r.ema20}) - std::min({r.ema5, r.ema10, r.ema20})) / r.ema20;
  const bool compressed =
      spread < 0.02 && std::fabs(r.vwma - r.ema20) / r.ema20 <= 0.01 && r.atr <= 1.1 * r.atr_low_20d;
  std::string hint = r.strategy_hint;
  std::transform(hint.begin(), hint.end(), hint.begin(), [](unsigned char ch) { return char(std::tolower(ch)); });
  const bool bottom_hint = hint.find("反转") != std::string::npos || hint.find("bottom") != std::string::npos;
  const bool deep = has_flag(r, "回撤过深") || has_flag(r, "回撤过长");
  p.stage = r.alignment == "多头排列" ? "上升趋势中" : r.alignment == "空头排列" ? "下降趋势中" : "横盘震荡";
  if (!finite(r.close) || !finite(r.ema20)) {
    p.strategy_mode = "空仓等待";
    p.mode_reason = "日线收盘或均线缺失，无法判断框架";
  } else if (r.alignment == "多头排列" && r.adx > r.adx_threshold && r.close >= r.vwma * 0.95) {
    p.strategy_mode = "趋势跟随";
    p.mode_reason =
        fmt::format("均线多头排列，ADX {:.2f} 高于{}阈值 {:.0f}，收盘不低于 VWMA×0.95", r.adx, r.tier, r.adx_threshold);
  } else if (compressed) {
    p.strategy_mode = "均线压缩";
    p.mode_reason =
        fmt::format("EMA5/10/20 间距 {:.2f}%，VWMA 贴近 EMA20，ATR 接近 20 日低位，等待放量突破", spread * 100);
  } else if (r.alignment != "多头排列" && (bottom_hint || deep || r.rsi < 40)) {
    p.strategy_mode = "底部反转";
    p.stage = "底部筑底";
    p.mode_reason = deep          ? "回撤已过深/过长，转入底部反转框架评估"
                    : bottom_hint ? "预筛提示为反转形态，均线未成多头，按筑底观察评估"
                                  : fmt::format("RSI {:.2f} 处于低位，均线未成多头，按筑底观察评估", r.rsi);
  } else if (r.adx < 20) {
    p.strategy_mode = "区间震荡";
    p.mode_reason = fmt::format("ADX {:.2f} 低于 20，价格在区间内往复", r.adx);
  } else if (r.alignment == "空头排列") {
    p.strategy_mode = "空仓等待";
    p.mode_reason = "均线空头排列且无筑底迹象，核心前提不支持做多";
  } else {
    p.strategy_mode = "区间震荡";
    p.mode_reason = fmt::format("均线{}、ADX {} 未达{}阈值 {:.0f}，最接近区间框架", r.alignment,
                                finite(r.adx) ? fmt::format("{:.2f}", r.adx) : "缺失", r.tier, r.adx_threshold);
  }
}

// HK and ETF liquidity tiers by mean daily turnover (quote currency); returns the position cap
// they impose (100 when none).
double liquidity_cap(Ctx& c) {
  const double v = c.r.turnover_20d;
  if (!finite(v) || (c.f.market != "HK" && c.f.market != "ETF")) return 100;
  const double wan = v / 1e4;
  const std::string unit = c.f.market == "HK" ? "港币" : "元";
  const std::string amount =
      "20日日均成交额约 " + (wan >= 1e4 ? fmt::format("{:.2f} 亿", wan / 1e4) : fmt::format("{:.0f} 万", wan)) + unit;
  if (c.f.market == "HK") {
    if (wan >= 5000) return c.p.liquidity_note = amount + "，流动性充足", 100;
    if (wan >= 1000) return c.p.liquidity_note = amount + "，流动性偏弱，仓位≤20%且分批进出", 20;
    c.p.liquidity_note = amount + "，属仙股区间，强制观望";
    return 0;
  }
  if (wan >= 10000) return c.p.liquidity_note = amount + "，流动性充足", 100;
  if (wan >= 2000) return c.p.liquidity_note = amount + "，流动性一般，仓位≤20%", 20;
  c.p.liquidity_note = amount + "，流动性差，置信度下调且仓位≤10%";
  c.p.confidence_cuts.push_back("ETF 流动性差");
  return 10;
}

// Daily price limit of the A-share board of `code`, as a fraction of the previous close.
double a_share_limit(const std::string& code) {
  const std::string digits = code.substr(code.find('.') + 1);
  if (code.rfind("bj.", 0) == 0) return 0.30;
  for (const char* board : {"300", "301", "688"})
    if (digits.rfind(board, 0) == 0) return 0.20;
  return 0.10;
}

// First level above `floor` by at least `gap` (and always by at least one tick).
std::optional<Level> level_above(const Ctx& c, double floor, double gap = 0) {
  const double min_gap = std::max(std::isfinite(gap) ? gap : 0.0, c.tick() * 0.5);
  for (const auto& l : c.r.target_levels)
    if (c.px(l.price) >= c.px(floor) + min_gap) return Level{c.px(l.price), l.source};
  return std::nullopt;
}

// Entry zone, stop and targets of the chosen mode; nothing (with the reason) when they cannot be set.
std::optional<BuyCandidate> buy_levels(Ctx& c) {
  const auto& r = c.r;
  auto& p = c.p;
  BuyCandidate b;
  double zone_low, zone_high, buffer;
  if (p.strategy_mode == "趋势跟随") {
    if (p.squeeze_exemption && r.dist_ema20_atr > r.deviation_cap) {
      zone_low = r.ema5 - r.atr, zone_high = r.ema5 + r.atr, buffer = 1.0;
      b.defence = {r.ema10, "EMA10（逼空豁免防守线）"};
    } else {
      zone_low = r.ema20, zone_high = std::min(r.ema10, r.ema20 + 0.5 * r.atr), buffer = 1.0;
      b.defence = {r.ema20, "EMA20（趋势回踩点）"};
    }
  } else if (p.strategy_mode == "底部反转") {
    zone_low = std::max(r.low_5d.price, r.price - 0.5 * r.atr), zone_high = r.price, buffer = 0.5;
    b.defence = {r.low_5d.price, r.low_5d.source};
  } else if (p.strategy_mode == "区间震荡") {
    zone_low = std::max(r.support.price, r.price - 0.5 * r.atr), zone_high = r.price, buffer = 1.0;
    b.defence = {r.support.price, r.support.source};
  } else {
    p.candidate_problem = "当前策略模式不设买入区间";
    return std::nullopt;
  }
  b.entry_high = c.px(std::min(zone_high, r.price));
  b.entry_low = c.px(std::min(zone_low, b.entry_high));
  if (finite(b.entry_low) && b.entry_low > 0) p.watch_low = b.entry_low, p.watch_high = b.entry_high;
  if (!(finite(b.entry_low) && finite(b.defence.price) && b.entry_low > 0)) {
    p.candidate_problem = "入场区间所需的均线/价位缺失";
    return std::nullopt;
  }
  if (b.entry_low < r.price * 0.92) {
    p.candidate_problem = fmt::format("回踩区间下沿 {} 低于现价的 92%", c.t(b.entry_low));
    return std::nullopt;
  }
  // Stop-pricing rules in priority order: defence minus the ATR buffer, then VWMA, then the
  // structural low; each must sit below the entry and within the stop cap.
  const double cap =
      std::min(r.constraints ? r.constraints->max_stop_dist_atr : r.stop_cap_by_tier, r.stop_cap_by_tier);
  // A-shares settle T+1: a stop executes at the next open at the earliest, so every stop keeps at
  // least 1 ATR below its anchor; elsewhere the fallback levels only need to sit below the anchor.
  const bool t_plus_1 = c.f.market == "A";
  const double primary = (t_plus_1 ? std::max(buffer, 1.0) : buffer) * r.atr;
  const double fallback = t_plus_1 ? r.atr : c.tick();
  const std::string fallback_text = t_plus_1 ? " − 1.0×ATR（T+1 缓冲）" : "";
  const Level structural = p.strategy_mode == "底部反转" ? r.low_5d : r.support;
  const struct {
    Level anchor;
    double stop;
    std::string rule;
  } stops[] = {
      {b.defence, b.defence.price - primary, fmt::format("{} − {:.1f}×ATR", b.defence.source, primary / r.atr)},
      {{r.vwma, "VWMA"}, r.vwma - fallback, "VWMA 第二防线" + fallback_text},
      {structural, structural.price - fallback, structural.source + "（前期关键低点）" + fallback_text}};
  for (const auto& s : stops) {
    const double stop = c.px(std::floor(s.stop / c.tick() + 1e-9) * c.tick());
    if (finite(stop) && stop > 0 && stop < b.entry_low && (b.entry_high - stop) <= cap * r.atr + 1e-9) {
      b.stop = stop, b.stop_rule = s.rule, b.defence = s.anchor;
      break;
    }
  }
  if (b.stop == 0) {
    p.candidate_problem = fmt::format("按止损定价原则得到的止损均超出 {:.2f}×ATR 上限，入场时机过早", cap);
    return std::nullopt;
  }
  if (t_plus_1 && b.stop < r.close * (1 - a_share_limit(c.f.stock_code))) {
    p.candidate_problem = "止损价低于次日跌停价，无法保证成交";
    return std::nullopt;
  }
  const auto t1 = level_above(c, b.entry_high);
  if (!t1) {
    p.candidate_problem = "入场区间上方没有可用的压力位作为第一目标";
    return std::nullopt;
  }
  b.target_1_level = *t1;
  // The second target is a distinct swing level, at least half an ATR beyond the first.
  const auto t2 = level_above(c, t1->price, 0.5 * r.atr);
  b.target_2_level =
      t2 ? *t2 : Level{c.px(t1->price + std::max(r.atr, c.tick())), "第一目标 + 1×ATR（上方无更高结构位）"};
  b.target_1 = b.target_1_level.price, b.target_2 = b.target_2_level.price;
  const double risk = b.entry_high - b.stop;
  b.rrr = round_half_even((b.target_1 - b.entry_high) / risk, 3);
  b.rrr_max = round_half_even((b.target_2 - b.entry_high) / risk, 3);
  return b;
}

// The first rule, before any level is priced, that forbids a new position; empty when none does.
std::string entry_ban(Ctx& c) {
  const auto& r = c.r;
  const auto& p = c.p;
  if (!r.constraints) return "calculated_constraints 缺失，无法核验硬约束";
  if (r.daily_rows < 30) return "日线数据不足 30 根，置信度强制为低";
  if (r.suspect_data) return "疑似停牌/数据异常";
  if (!finite(r.atr) || !finite(r.ema20)) return "ATR 或 EMA20 缺失，无法定价止损";
  if (c.f.bias == "避险") return "市场 bias=避险，禁止新开仓";
  if (p.direction == "看空") return "方向为看空，不给任何等级的买入";
  if (p.strategy_mode == "均线压缩" || p.strategy_mode == "空仓等待")
    return "策略模式为" + p.strategy_mode + "，不开新仓";
  if (has_flag(r, "黄昏星")) return "risk_flags 含黄昏星，顶部警示优先观望";
  if (has_flag(r, "RS绝对弱势") && r.tier != "强势档") return "RS绝对弱势且非强势档，不入场";
  if (c.f.market == "A" && finite(r.prev_close) && r.close / r.prev_close - 1 <= -0.095)
    return "最新交易日跌停，次日不开新仓";
  if (p.position_cap < 1) return p.liquidity_note.empty() ? "仓位上限不足 1%" : p.liquidity_note;
  if (p.strategy_mode == "趋势跟随" && r.dist_ema20_atr > r.deviation_cap && !p.squeeze_exemption)
    return fmt::format("收盘偏离 EMA20 {:.2f}×ATR，超过{}上限 {:.1f}×ATR（防鞭打）", r.dist_ema20_atr, r.tier,
                       r.deviation_cap);
  return "";
}

void grade_buy(Ctx& c, const BuyCandidate& b) {
  const auto& r = c.r;
  auto& p = c.p;
  const Constraints& k = *r.constraints;
  p.score_rrr = rrr_score(b.rrr, b.rrr_max, k.min_rrr);
  p.score_total = k.base_confidence_score + p.score_rrr;
  p.buy_threshold = (p.strategy_mode == "底部反转" || p.strategy_mode == "区间震荡") ? 2.0 : 2.5;
  if (b.rrr < k.min_rrr) {
    p.no_buy_reason = fmt::format("rrr {:.3f} 低于 min_rrr {:.2f}", b.rrr, k.min_rrr);
    return;
  }
  p.graded = true;
  int level = p.score_total >= 3.5 && b.rrr >= 1.5 ? 2 : p.score_total >= p.buy_threshold ? 1 : 0;
  if (has_flag(r, "高潮量")) p.confidence_cuts.push_back("高潮量");
  if (has_flag(r, "放量不涨")) p.confidence_cuts.push_back("放量不涨");
  if (r.vol_regime == "high_vol") p.confidence_cuts.push_back("high_vol 高波动");
  if (r.week_ema5 < r.week_ema20) p.confidence_cuts.push_back("周线 EMA5 低于 EMA20（逆势风险）");
  level -= int(p.confidence_cuts.size());
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

void active_exit_signals(Ctx& c) {
  const auto& r = c.r;
  const auto& h = r.macd_hist_last3;
  if (r.ema5 < r.ema10 && r.volume_ratio > 1.3) c.p.exit_signals.push_back("EMA5 低于 EMA10 且量比>1.3");
  if (r.adx < 20 && r.adx < r.adx_3d_ago) c.p.exit_signals.push_back("ADX 跌破 20");
  if (r.macd < r.macd_signal && h[0] > h[1] && h[1] > h[2]) c.p.exit_signals.push_back("MACD 死叉且柱状图连续缩短");
  if (r.close < r.support.price) c.p.exit_signals.push_back("收盘跌破关键支撑");
}

// Holder plan of a wait decision: defence, targets and holding time, or zeros when closing out.
void holder_plan(Ctx& c) {
  const auto& r = c.r;
  auto& p = c.p;
  active_exit_signals(c);
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
    p.stop_loss = c.px(p.holder_defence.price - 0.5 * atr);
  } else {
    p.holder_defence =
        r.support.price < r.price ? Level{r.support.price, r.support.source} : Level{r.price - atr, "现价 − 1×ATR"};
    p.stop_loss = c.px(p.holder_defence.price);
  }
  const double base = p.holder_action == "继续持有" && finite(r.close) ? r.close : r.price;
  const auto t1 = level_above(c, base);
  p.target_1 = t1 ? t1->price : c.px(base + std::max(atr, c.tick()));
  const auto t2 = level_above(c, p.target_1, 0.5 * atr);
  p.target_2 = t2 ? t2->price : c.px(p.target_1 + std::max(atr, c.tick()));
  if (p.holder_action == "继续持有" && atr > 0)
    p.holding_period = fmt::format("{}个交易日", int(std::clamp(std::ceil((p.target_1 - base) / atr * 2), 2.0, 20.0)));
}

void finish(Ctx& c) {
  const auto& r = c.r;
  auto& p = c.p;
  p.support = finite(r.support.price) ? c.px(r.support.price) : 0;
  p.resistance = finite(r.resistance.price) ? c.px(r.resistance.price) : 0;
  if (p.support > 0 && !(p.resistance > p.support))
    p.resistance = c.px(p.support + std::max(finite(r.atr) ? r.atr : 0, c.tick()));
  const std::size_t flags = r.risk_flags ? r.risk_flags->size() : 0;
  const double atr_pct = r.atr / r.close * 100;
  if (r.vol_regime == "high_vol" || c.f.bias == "避险" || r.suspect_data || atr_pct > 5 || flags >= 2)
    p.risk_level = "高";
  else if (atr_pct < 2 && flags == 0 && c.f.bias == "偏多")
    p.risk_level = "低";
  const bool buy = p.action != "观望等待";
  const double down = buy ? p.stop_loss : p.stop_loss > 0 ? p.stop_loss : p.support;
  const std::string up_action = buy ? fmt::format("按计划加仓至上限{}%", int(p.position_cap))
                                    : fmt::format("重新评估买入（仓位≤{}%）", int(p.position_cap));
  const std::string down_action = buy                             ? "止损离场"
                                  : p.holder_action == "继续持有" ? "减仓50%"
                                  : p.holder_action == "分批减仓" ? "清仓离场"
                                                                  : "保持空仓";
  p.key_watch = fmt::format("升级触发：日收盘站稳{}且量比>1.3→{}；降级触发：跌破{}→{}", c.t(p.resistance), up_action,
                            c.t(down), down_action);
}

}  // namespace

double rrr_score(double rrr, double rrr_max, double min_rrr) {
  if (rrr >= 2.0 || (rrr_max >= 2.5 && rrr >= 1.5)) return 1.0;
  if (rrr >= 1.5) return 0.5;
  if (rrr >= min_rrr) return 0.3;
  return 0.0;
}

TradePlan plan_trade(const StockPromptFacts& f, const StockReading& r) {
  TradePlan p;
  Ctx c{f, r, p, std::min(r.decimals, 3)};
  p.market_sentiment = f.bias == "偏多" ? "看多" : f.bias == "偏空" ? "看空" : "中性";
  p.direction = direction_of(r);
  choose_mode(c);
  p.squeeze_exemption =
      p.strategy_mode == "趋势跟随" && r.adx > 30 && r.tier != "弱势档" && std::fabs(r.close - r.ema5) <= r.atr;
  const double liquidity = liquidity_cap(c);
  if (r.constraints)
    p.position_cap = std::min(r.constraints->max_position_pct * (r.vol_regime == "high_vol" ? 0.75 : 1.0), liquidity);
  p.no_buy_reason = entry_ban(c);
  if (finite(r.atr) && finite(r.price)) p.candidate = buy_levels(c);
  if (p.no_buy_reason.empty() && !p.candidate) p.no_buy_reason = p.candidate_problem;
  if (p.no_buy_reason.empty()) grade_buy(c, *p.candidate);
  if (p.action == "观望等待") {
    p.entry_low = p.watch_low, p.entry_high = p.watch_high;
    holder_plan(c);
  }
  finish(c);
  return p;
}

}  // namespace quorvel::agent::offline
