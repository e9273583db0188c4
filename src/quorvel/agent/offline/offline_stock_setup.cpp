#include "quorvel/agent/offline/offline_stock_setup.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "quorvel/agent/offline/offline_stock_claims.h"
#include "quorvel/agent/schemas/plan_checks.h"
#include "quorvel/utils/number_text.h"
#include "quorvel/utils/price_limits.h"

namespace quorvel::agent::offline {

namespace {

bool finite(double v) { return std::isfinite(v); }

// The frame's pullback zone, its key level and the frame's stop buffer in ATR.
struct Zone {
  double low, high, buffer;
  Level defence;
};

std::optional<Zone> zone_of(const StockReading& r, const TradePlan& p) {
  if (p.strategy_mode == "趋势跟随") {
    if (p.squeeze_exemption && r.dist_ema20_atr > r.deviation_cap)
      return Zone{r.ema5 - r.atr, r.ema5 + r.atr, 1.0, {r.ema10, "EMA10（逼空豁免防守线）"}};
    return Zone{r.ema20, std::min(r.ema10, r.ema20 + 0.5 * r.atr), 1.0, {r.ema20, "EMA20（趋势回踩点）"}};
  }
  if (p.strategy_mode == "底部反转")
    return Zone{std::max(r.low_5d.price, r.price - 0.5 * r.atr), r.price, 0.5, r.low_5d};
  if (p.strategy_mode == "区间震荡")
    return Zone{std::max(r.support.price, r.price - 0.5 * r.atr), r.price, 1.0, r.support};
  return std::nullopt;
}

// Largest close-to-close move of the last five sessions, in percent.
double largest_move_5d(const tarnel::BarTable& d) {
  double out = 0;
  for (std::size_t back = 0; back < 5; ++back) {
    const double a = last_value(d, "close", back + 1), b = last_value(d, "close", back);
    if (a > 0 && finite(b)) out = std::max(out, std::fabs(b / a - 1) * 100);
  }
  return out;
}

// The frame's buffer with the market's additions, and how it was arrived at.
std::pair<double, std::string> buffer_of(const StockPromptFacts& f, const StockReading& r, const TradePlan& p,
                                         double frame_buffer) {
  double buffer = frame_buffer;
  std::string why = fmt::format("{} {:.1f}", p.strategy_mode, frame_buffer);
  if (r.t_plus_1 && buffer < 1.0) buffer = 1.0, why += "，T+1 取 1.0";
  if (f.market == "HK" && largest_move_5d(f.daily) > 10) buffer += 0.5, why += "，近 5 日单日涨跌超 10% 加 0.5";
  return {buffer, why};
}

// Next session's limit prices: trading_rules', else the A-share board's band around the last close.
std::pair<double, double> limit_prices(const StockPromptFacts& f, const StockReading& r) {
  if (r.rules) return {r.rules->limit_down, r.rules->limit_up};
  if (f.market != "A" || !finite(r.close) || f.daily.empty()) return {NAN, NAN};
  const double band = quorvel::limit_band(f.stock_code, f.daily.index().back() + date::days{1});
  return {r.close * (1 - band), r.close * (1 + band)};
}

// Clamps the entry range into the limit prices; false when nothing of it is left.
bool fit_limits(const PriceGrid& g, double down, double up, BuyCandidate& b) {
  if (finite(up) && b.entry_high > g.floor(up)) {
    b.entry_notes.push_back("入场上沿按次日涨停价 " + g.text(up) + " 下调");
    b.entry_high = g.floor(up);
  }
  if (finite(down) && b.entry_low < g.ceil(down)) {
    b.entry_notes.push_back("入场下沿按次日跌停价 " + g.text(down) + " 上调");
    b.entry_low = g.ceil(down);
  }
  return b.entry_low <= b.entry_high;
}

// The stop under the first anchor that fits the cap; false, with what was tried, when none does.
bool price_stop(const StockReading& r, const PriceGrid& g, const TradePlan& p, BuyCandidate& b, std::string& problem) {
  const double cap = stop_cap_atr(r), atr = r.atr;
  // The structural low of the third rule. Bottom-reversal and range plans defend it whatever the
  // anchor, so their stop also stays under it; a trend plan defends its moving average.
  const Level structural = p.strategy_mode == "底部反转" ? r.low_5d : r.support;
  const bool defends_structure = p.strategy_mode == "底部反转" || p.strategy_mode == "区间震荡";
  const Level anchors[] = {
      b.defence, {r.vwma, "VWMA（第二防线）"}, {structural.price, structural.source + "（前期关键低点）"}};
  std::vector<std::string> tried;
  for (const auto& a : anchors) {
    if (!(finite(a.price) && a.price > 0) || (&a != anchors && a.price == b.defence.price)) continue;
    if (a.price > b.entry_low + 1e-9) {
      tried.push_back(a.source + " " + g.text(a.price) + " 高于入场下沿 " + g.text(b.entry_low) + "，不作锚点");
      continue;
    }
    double stop = std::min(a.price - b.buffer_atr * atr, b.entry_low - schemas::MIN_STOP_BUFFER_ATR * atr);
    if (defends_structure && finite(structural.price) && structural.price <= b.entry_low)
      stop = std::min(stop, structural.price - schemas::MIN_STOP_BUFFER_ATR * atr);
    stop = g.floor(stop);
    if (!(stop > 0)) continue;
    const double dist = (b.entry_high - stop) / atr;
    // A trend zone too wide for the cap is narrowed from the top (its worst fill sets the stop
    // distance); bottom-reversal and range entries buy at the price and cannot be.
    const double narrowed = p.strategy_mode == "趋势跟随" ? g.floor(stop + cap * atr) : -1;
    if (dist > cap + 1e-9 && narrowed < b.entry_low) {
      tried.push_back(a.source + " 得止损 " + g.text(stop) + "，" + exact_claim("止损距离", dist, cap) + "×ATR 上限");
      continue;
    }
    if (dist > cap + 1e-9) {
      b.entry_notes.push_back("入场上沿由 " + g.text(b.entry_high) + " 收窄至 " + g.text(narrowed) +
                              "，使止损距离不超过 " + fmt::format("{}", cap) + "×ATR");
      b.entry_high = narrowed;
    }
    b.stop = stop, b.defence = a;
    b.stop_rule = a.source + " 下方至少 " + fmt::format("{:.1f}", b.buffer_atr) + "×ATR";
    return true;
  }
  std::string details;
  for (const auto& t : tried) details += (details.empty() ? "" : "；") + t;
  problem = "止损无法同时满足锚点缓冲与 " + fmt::format("{}", cap) + "×ATR 上限，入场时机过早" +
            (details.empty() ? "" : "（" + details + "）");
  return false;
}

}  // namespace

std::optional<Level> level_above(const StockReading& r, const PriceGrid& g, double floor, double gap) {
  const double min_gap = std::max(finite(gap) ? gap : 0.0, g.tick() * 0.5);
  for (const auto& l : r.target_levels)
    if (g.round(l.price) >= g.round(floor) + min_gap) return Level{g.round(l.price), l.source};
  return std::nullopt;
}

double stop_cap_atr(const StockReading& r) {
  return std::min(r.constraints ? r.constraints->max_stop_dist_atr : r.stop_cap_by_tier, r.stop_cap_by_tier);
}

std::optional<BuyCandidate> buy_levels(const StockPromptFacts& f, const StockReading& r, TradePlan& p) {
  const PriceGrid g(r);
  const auto zone = zone_of(r, p);
  if (!zone) {
    p.candidate_problem = "当前策略模式不设买入区间";
    return std::nullopt;
  }
  BuyCandidate b;
  b.defence = zone->defence;
  b.entry_high = g.round(std::min(zone->high, r.price));
  // Rounded up so that an anchor at the zone's low stays at or under the entry low.
  b.entry_low = std::min(g.ceil(zone->low), b.entry_high);
  if (!(finite(b.entry_low) && finite(b.defence.price) && b.entry_low > 0)) {
    p.candidate_problem = "入场区间所需的均线/价位缺失";
    return std::nullopt;
  }
  const auto [limit_down, limit_up] = limit_prices(f, r);
  if (!fit_limits(g, limit_down, limit_up, b)) {
    p.candidate_problem = "入场区间落在次日涨跌停价 " + g.text(limit_down) + "–" + g.text(limit_up) + " 之外";
    return std::nullopt;
  }
  p.watch_low = b.entry_low, p.watch_high = b.entry_high;
  if (b.entry_low < r.price * 0.92) {
    p.candidate_problem = "回踩区间下沿 " + g.text(b.entry_low) + " 低于现价的 92%";
    return std::nullopt;
  }
  std::tie(b.buffer_atr, b.buffer_reason) = buffer_of(f, r, p, zone->buffer);
  if (!price_stop(r, g, p, b, p.candidate_problem)) return std::nullopt;
  p.watch_high = b.entry_high;
  if (r.t_plus_1 && finite(limit_down) && b.stop < limit_down) {
    p.candidate_problem = "止损价 " + g.text(b.stop) + " 低于次日跌停价 " + g.text(limit_down) + "，无法保证成交";
    return std::nullopt;
  }
  // A level the close is already above is broken, not resistance: targets lie above both.
  const auto t1 = level_above(r, g, std::max(b.entry_high, r.close));
  if (!t1) {
    p.candidate_problem = "入场区间与收盘价上方没有可用的压力位作为第一目标";
    return std::nullopt;
  }
  b.target_1_level = *t1;
  // The second target is a distinct swing level, at least half an ATR beyond the first.
  const auto t2 = level_above(r, g, t1->price, 0.5 * r.atr);
  b.target_2_level =
      t2 ? *t2 : Level{g.round(t1->price + std::max(r.atr, g.tick())), "第一目标 + 1×ATR（上方无更高结构位）"};
  b.target_1 = b.target_1_level.price, b.target_2 = b.target_2_level.price;
  const double risk = b.entry_high - b.stop;
  b.rrr = round_half_even((b.target_1 - b.entry_high) / risk, 3);
  b.rrr_max = round_half_even((b.target_2 - b.entry_high) / risk, 3);
  return b;
}

}  // namespace quorvel::agent::offline
