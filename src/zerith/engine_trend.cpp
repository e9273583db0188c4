#include <algorithm>

#include <fmt/format.h>

#include "quorvel/ta/talib_calls.h"
#include "zerith/engine_common.h"

namespace zerith::engine {

namespace {

namespace ta = quorvel::ta::talib;

constexpr EngineSpec SPEC{"ENGINE1 趋势跟随 (Trend Following)", 120};
constexpr double ADX_MIN = 20, ADX_STRONG = 25;
constexpr double HEAVY_VOLUME = 1.3;    // Volume_Ratio
constexpr double PULLBACK_VWMA = 0.95;  // a pullback may close this far under VWMA20
constexpr std::size_t BREAKOUT_SPAN = 20, SWING_SPAN = 10, VWMA_SPAN = 20, VWMA_SLOPE = 3, VOLUME_SPAN = 5;

struct TrendSeries {
  Series ema5, ema10, ema20, ema60, adx, atr, vwma20;
};

TrendSeries compute(const Bars& b) {
  return {ta::ema(b.close, 5),
          ta::ema(b.close, 10),
          ta::ema(b.close, 20),
          ta::ema(b.close, 60),
          ta::adx(b.high, b.low, b.close, 14),
          ta::atr(b.high, b.low, b.close, 14),
          vwma(b.close, b.volume, VWMA_SPAN)};
}

bool aligned_at(const Bars& b, const TrendSeries& s, std::size_t i) {
  return s.ema5[i] > s.ema10[i] && s.ema10[i] > s.ema20[i] && b.close[i] > s.ema60[i];
}

bool breakout_at(const Bars& b, std::size_t i) { return b.close[i] > highest(b.high, i - BREAKOUT_SPAN, i - 1); }

// The previous close rested in the EMA10-EMA20 zone, no close of the last 3 bars fell under EMA20,
// and bar t closes up (above its open and the previous close), back above EMA10.
bool pullback_holds(const Bars& b, const TrendSeries& s, std::size_t t) {
  const bool trend = s.ema10[t] > s.ema20[t] && s.ema20[t] > s.ema60[t] && s.adx[t] >= ADX_MIN;
  const bool rested = b.close[t - 1] <= s.ema10[t - 1] && b.close[t - 1] >= s.ema20[t - 1];
  const bool held = b.close[t - 2] >= s.ema20[t - 2] && b.close[t] >= s.ema20[t];
  const bool turned = b.close[t] > s.ema10[t] && b.close[t] > b.open[t] && b.close[t] > b.close[t - 1];
  return trend && rested && held && turned && b.close[t] >= PULLBACK_VWMA * s.vwma20[t];
}

enum class Trigger { none, sell, breakout, alignment, pullback };

const char* trigger_name(Trigger t) {
  switch (t) {
    case Trigger::sell:
      return "sell";
    case Trigger::breakout:
      return "breakout";
    case Trigger::alignment:
      return "alignment";
    case Trigger::pullback:
      return "pullback";
    case Trigger::none:
      break;
  }
  return "";
}

// Everything the rules read at the last bar t.
struct Reading {
  double close, ema5, ema10, ema20, ema60, adx, adx_prev, atr, vwma, vwma_before, volume_ratio, high_20, swing_low;
  bool aligned = false, newly_aligned = false, adx_ok = false, vwma_ok = false, breakout = false, pullback = false,
       ema20_break = false, ema5_cross = false;

  bool setup() const { return aligned && adx_ok && vwma_ok; }
  Trigger trigger() const {
    if (ema20_break || ema5_cross) return Trigger::sell;
    if (setup() && breakout) return Trigger::breakout;
    if (setup() && newly_aligned) return Trigger::alignment;
    return pullback ? Trigger::pullback : Trigger::none;
  }
};

Reading read(const Bars& b, const TrendSeries& s) {
  const std::size_t t = b.last();
  Reading r{.close = b.close[t],
            .ema5 = s.ema5[t],
            .ema10 = s.ema10[t],
            .ema20 = s.ema20[t],
            .ema60 = s.ema60[t],
            .adx = s.adx[t],
            .adx_prev = s.adx[t - 1],
            .atr = s.atr[t],
            .vwma = s.vwma20[t],
            .vwma_before = s.vwma20[t - VWMA_SLOPE],
            .volume_ratio = volume_ratio(b.volume, t, VOLUME_SPAN),
            .high_20 = highest(b.high, t - BREAKOUT_SPAN, t - 1),
            .swing_low = lowest(b.low, t + 1 - SWING_SPAN, t)};
  r.aligned = aligned_at(b, s, t);
  r.newly_aligned = r.aligned && !aligned_at(b, s, t - 1);
  r.adx_ok = r.adx >= ADX_MIN && r.adx > r.adx_prev;
  r.vwma_ok = r.close > r.vwma && r.vwma > r.vwma_before;
  r.breakout = breakout_at(b, t) && !breakout_at(b, t - 1);
  r.pullback = pullback_holds(b, s, t);
  r.ema20_break = crossed_below(b.close, s.ema20, t) && r.adx_prev >= ADX_MIN && r.adx < r.adx_prev;
  r.ema5_cross = crossed_below(s.ema5, s.ema10, t) && r.volume_ratio > HEAVY_VOLUME;
  return r;
}

std::string state_of(const Reading& r) {
  if (r.trigger() == Trigger::sell) return "趋势转弱";
  if (r.aligned && r.adx >= ADX_MIN) return "多头趋势";
  if (r.ema10 > r.ema20 && r.ema20 > r.ema60 && r.close > r.ema20) return "多头回踩";
  if (r.ema5 < r.ema10 && r.ema10 < r.ema20 && r.close < r.ema60) return "空头趋势";
  return "震荡";
}

std::string alignment_text(const Reading& r) {
  return fmt::format("EMA5/10/20 多头排列（{}/{}/{}）且收盘站上 EMA60 {}", f3(r.ema5), f3(r.ema10), f3(r.ema20),
                     f3(r.ema60));
}

void decide_sell(SignalEvent& e, const Reading& r) {
  e.sell_signal = true;
  e.signal_tier = r.ema20_break && r.ema5_cross ? "A" : "B";
  std::string why;
  if (r.ema20_break)
    why =
        fmt::format("收盘 {} 跌破 EMA20 {} 且 ADX 由 {} 降至 {}", f3(r.close), f3(r.ema20), f1(r.adx_prev), f1(r.adx));
  if (r.ema5_cross)
    why += fmt::format("{}EMA5 {} 下穿 EMA10 {} 且量比 {} > 1.3", why.empty() ? "" : "，", f3(r.ema5), f3(r.ema10),
                       f2(r.volume_ratio));
  e.reason = fmt::format("{}，趋势转弱，触发趋势卖出（{} 级）。", why, e.signal_tier);
}

void decide_buy(SignalEvent& e, const Reading& r, Trigger trigger) {
  e.buy_signal = true;
  const std::string momentum = fmt::format("ADX {}（前值 {}）", f1(r.adx), f1(r.adx_prev));
  if (trigger == Trigger::breakout) {
    e.signal_tier = r.volume_ratio >= HEAVY_VOLUME && r.adx >= ADX_STRONG ? "A" : "B";
    e.reason = fmt::format(
        "收盘 {} 首次突破前 20 日最高 {}，{}，{}上升，收盘高于上行的 VWMA20 {}，量比 {}，触发趋势突破买入（{} 级）。",
        f3(r.close), f3(r.high_20), alignment_text(r), momentum, f3(r.vwma), f2(r.volume_ratio), e.signal_tier);
  } else if (trigger == Trigger::alignment) {
    e.signal_tier = r.adx >= ADX_STRONG ? "B" : "C";
    e.reason = fmt::format("本根新形成 {}，{}上升，收盘高于上行的 VWMA20 {}，触发趋势买入（{} 级）。",
                           alignment_text(r), momentum, f3(r.vwma), e.signal_tier);
  } else {
    e.signal_tier = r.adx >= ADX_STRONG ? "B" : "C";
    e.reason = fmt::format(
        "EMA10 {} > EMA20 {} > EMA60 {}，前一根收于 EMA10-EMA20 区间后本根收阳 {} 重新站上 EMA10，"
        "近 3 根收盘未破 EMA20，{}，触发回踩买入（{} 级）。",
        f3(r.ema10), f3(r.ema20), f3(r.ema60), f3(r.close), momentum, e.signal_tier);
  }
}

std::string quiet_reason(const Reading& r) {
  if (!r.aligned)
    return fmt::format(
        "EMA5/10/20 为 {}/{}/{}、EMA60 {}，未形成多头排列或收盘 {} 未站上 EMA60，也没有回踩确认，无趋势买点。",
        f3(r.ema5), f3(r.ema10), f3(r.ema20), f3(r.ema60), f3(r.close));
  if (!r.adx_ok)
    return fmt::format("均线多头排列，但 ADX {}（前值 {}）未在 20 以上上升，趋势强度不足，无买点。", f1(r.adx),
                       f1(r.adx_prev));
  if (!r.vwma_ok)
    return fmt::format(
        "均线多头排列且 ADX {} 上升，但收盘 {} 未站上上行的 VWMA20 {}（3 根前 {}），资金未确认，无买点。", f1(r.adx),
        f3(r.close), f3(r.vwma), f3(r.vwma_before));
  return fmt::format("多头趋势延续（ADX {}），本根没有首次突破、新排列或回踩确认，不追高。", f1(r.adx));
}

Json details_of(const Reading& r, Trigger trigger) {
  return Json{{"close", num3(r.close)},
              {"EMA5", num3(r.ema5)},
              {"EMA10", num3(r.ema10)},
              {"EMA20", num3(r.ema20)},
              {"EMA60", num3(r.ema60)},
              {"ADX", num3(r.adx)},
              {"ADX_prev", num3(r.adx_prev)},
              {"ATR", num3(r.atr)},
              {"VWMA20", num3(r.vwma)},
              {"VWMA20_3_bars_ago", num3(r.vwma_before)},
              {"Volume_Ratio", num3(r.volume_ratio)},
              {"high_20d_prior", num3(r.high_20)},
              {"swing_low_10d", num3(r.swing_low)},
              {"aligned", r.aligned},
              {"trigger", trigger_name(trigger)}};
}

}  // namespace

// ENGINE1_TREND - trend following. Needs 120 complete bars (EMA60 plus its warm-up).
//
// Series: EMA 5/10/20/60 of the close, ADX(14), ATR(14), VWMA20 = sum(close x volume) / sum(volume)
// over 20 bars, Volume_Ratio = volume / mean volume of the 5 bars before.
// Setup at the last bar t: EMA5 > EMA10 > EMA20 and close > EMA60 ("aligned"); ADX >= 20 and above
// the previous bar's; close > VWMA20 and VWMA20 above its value 3 bars earlier.
// Sell (checked first, overrides a buy): the close falls below EMA20 (the previous close was not
// below its EMA20) while ADX falls from 20 or more (a trend losing strength; in a market without
// trend the crossing is noise); or EMA5 crosses below EMA10 with Volume_Ratio > 1.3.
// Tier A when both hold, else B.
// Buy, first matching trigger:
//   breakout  - setup, and the close tops the highest high of the 20 bars before it while the
//               previous close did not top its own: tier A with Volume_Ratio >= 1.3 and ADX >= 25, else B;
//   alignment - setup, and bar t-1 was not aligned: tier B with ADX >= 25, else C;
//   pullback  - EMA10 > EMA20 > EMA60 with ADX >= 20, the previous close inside [EMA20, EMA10], the
//               closes of t-2 and t at or above EMA20, bar t closing up (above its open and the
//               previous close) back above EMA10 and at least 0.95 x VWMA20: tier B with ADX >= 25, else C.
// State: 趋势转弱 (sell), 多头趋势 (aligned, ADX >= 20), 多头回踩 (EMA10 > EMA20 > EMA60, close > EMA20),
// 空头趋势 (EMA5 < EMA10 < EMA20, close < EMA60), else 震荡.
// Reference for a buy or a long state: stop = max(EMA20 - ATR, lowest low of the last 10 bars),
// take-profit = close + 2 x (close - stop).
SignalEvent trend_signal(const tarnel::BarTable& df) {
  Prepared p = prepare(df, SPEC);
  if (!p.bars) return p.event;
  const Reading r = read(*p.bars, compute(*p.bars));
  SignalEvent e = std::move(p.event);
  e.state = state_of(r);
  const Trigger trigger = r.trigger();
  if (trigger == Trigger::sell) {
    decide_sell(e, r);
  } else if (trigger != Trigger::none) {
    decide_buy(e, r, trigger);
  } else {
    e.reason = quiet_reason(r);
  }
  if (e.buy_signal || (!e.sell_signal && (e.state == "多头趋势" || e.state == "多头回踩"))) {
    const auto ref = long_reference(r.close, std::max(r.ema20 - r.atr, r.swing_low));
    e.stop_loss = ref.stop_loss;
    e.take_profit = ref.take_profit;
  }
  e.details = details_of(r, trigger);
  return e;
}

}  // namespace zerith::engine
