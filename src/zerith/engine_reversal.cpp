#include <string>

#include <fmt/format.h>

#include "quorvel/ta/talib_calls.h"
#include "zerith/engine_common.h"

namespace zerith::engine {

namespace {

namespace ta = quorvel::ta::talib;

constexpr EngineSpec SPEC{"ENGINE2 超跌反转 (Oversold Reversal)", 80};
constexpr double OVERSOLD = 30, OVERBOUGHT = 70;
constexpr double STOP_ATR = 0.5;
// Bars back from t: RSI extreme within TURN_SPAN bars, a close under the lower band within the
// BAND_SPAN bars before t, the earlier trough within [OLD_LOW_FROM, OLD_LOW_TO] and the lowest low
// within SWING bars either side of it.
constexpr std::size_t TURN_SPAN = 5, BAND_SPAN = 3, OLD_LOW_FROM = 35, OLD_LOW_TO = 6, SWING = 3;

struct ReversalSeries {
  Series rsi;
  ta::Bands band;
  Series hist, atr, engulfing, morning_star, evening_star;
};

ReversalSeries compute(const Bars& b) {
  const ta::Candles c{b.open, b.high, b.low, b.close};
  return {ta::rsi(b.close, 14),
          ta::bbands(b.close, 20, 2.0),
          ta::macd(b.close, 12, 26, 9).hist,
          ta::atr(b.high, b.low, b.close, 14),
          ta::cdl_engulfing(c),
          ta::cdl_morning_star(c),
          ta::cdl_evening_star(c)};
}

// Name of the bullish reversal candle on bar t or t-1, "" for none.
const char* bullish_candle(const ReversalSeries& s, std::size_t t) {
  for (std::size_t k : {t, t - 1}) {
    if (s.morning_star[k] > 0) return "morning_star";
    if (s.engulfing[k] > 0) return "engulfing";
  }
  return "";
}

// Name of the bearish reversal candle on bar t when one of the last 3 highs reached the upper band.
const char* bearish_candle_at_band(const Bars& b, const ReversalSeries& s, std::size_t t) {
  bool at_band = false;
  for (std::size_t k = t - 2; k <= t; ++k) at_band = at_band || b.high[k] >= s.band.upper[k];
  if (!at_band) return "";
  if (s.evening_star[t] < 0) return "evening_star";
  return s.engulfing[t] < 0 ? "engulfing" : "";
}

bool closed_under_band(const Bars& b, const ReversalSeries& s, std::size_t t) {
  for (std::size_t k = t - BAND_SPAN; k < t; ++k)
    if (b.close[k] < s.band.lower[k]) return true;
  return false;
}

struct Reading {
  double close, rsi, rsi_prev, rsi_min, rsi_max, upper, middle, lower, hist, atr;
  double new_low, old_low, rsi_new, rsi_old, hist_new, hist_old;
  std::size_t old_low_bars_ago;
  const char* bull_candle;
  const char* bear_candle;
  bool rsi_turn = false, band_return = false, rsi_divergence = false, macd_divergence = false, overbought_turn = false;

  bool oversold_turn() const { return rsi_turn || band_return; }
  bool divergence() const { return rsi_divergence || macd_divergence; }
  bool buy() const { return oversold_turn() && (divergence() || *bull_candle != '\0'); }
  bool sell() const { return overbought_turn || *bear_candle != '\0'; }
};

// A low that no bar within `SWING` bars on either side undercuts.
bool swing_low(const Series& low, std::size_t row) { return low[row] <= lowest(low, row - SWING, row + SWING); }

// The rules read at bar t (the last bar, or the one before to tell whether a signal is new).
Reading read(const Bars& b, const ReversalSeries& s, std::size_t t) {
  const std::size_t new_row = lowest_row(b.low, t + 1 - TURN_SPAN, t);
  const std::size_t old_row = lowest_row(b.low, t - OLD_LOW_FROM, t - OLD_LOW_TO);
  Reading r{.close = b.close[t],
            .rsi = s.rsi[t],
            .rsi_prev = s.rsi[t - 1],
            .rsi_min = lowest(s.rsi, t + 1 - TURN_SPAN, t),
            .rsi_max = highest(s.rsi, t + 1 - TURN_SPAN, t),
            .upper = s.band.upper[t],
            .middle = s.band.middle[t],
            .lower = s.band.lower[t],
            .hist = s.hist[t],
            .atr = s.atr[t],
            .new_low = b.low[new_row],
            .old_low = b.low[old_row],
            .rsi_new = s.rsi[new_row],
            .rsi_old = s.rsi[old_row],
            .hist_new = s.hist[new_row],
            .hist_old = s.hist[old_row],
            .old_low_bars_ago = t - old_row,
            .bull_candle = bullish_candle(s, t),
            .bear_candle = bearish_candle_at_band(b, s, t)};
  const bool up = b.close[t] > b.close[t - 1];
  const bool lower_low = r.new_low < r.old_low && swing_low(b.low, old_row);
  r.rsi_turn = up && r.rsi_min < OVERSOLD && r.rsi > r.rsi_prev;
  r.band_return = up && closed_under_band(b, s, t) && r.close >= r.lower;
  r.rsi_divergence = lower_low && r.rsi_new > r.rsi_old;
  r.macd_divergence = lower_low && r.hist_old < 0 && r.hist_new > r.hist_old;
  r.overbought_turn = !up && r.rsi_max > OVERBOUGHT && r.rsi < r.rsi_prev;
  return r;
}

std::string turn_text(const Reading& r) {
  if (r.rsi_turn) return fmt::format("RSI 近 5 根最低 {} < 30 后回升至 {} 且收盘上涨", f2(r.rsi_min), f1(r.rsi));
  return fmt::format("收盘 {} 自布林下轨下方回到下轨 {} 之上", f3(r.close), f3(r.lower));
}

std::string confirm_text(const Reading& r) {
  std::string out;
  if (r.divergence()) {
    out = fmt::format("近 5 根最低 {} 低于 {} 根前的低点 {}，但 ", f3(r.new_low), r.old_low_bars_ago, f3(r.old_low));
    if (r.rsi_divergence) out += fmt::format("RSI {} 高于前低时的 {}", f1(r.rsi_new), f1(r.rsi_old));
    if (r.rsi_divergence && r.macd_divergence) out += "、";
    if (r.macd_divergence) out += fmt::format("MACD 柱 {} 高于前低时的 {}", f3(r.hist_new), f3(r.hist_old));
    out += "，形成底背离";
  }
  if (*r.bull_candle != '\0')
    out += fmt::format("{}出现看涨{}", out.empty() ? "" : "，",
                       std::string(r.bull_candle) == "engulfing" ? "吞没" : "早晨之星");
  return out;
}

// `r` reads the last bar, `before` the bar before it: a signal fires only on the bar where its
// conditions first hold together.
void decide(SignalEvent& e, const Reading& r, const Reading& before) {
  if (r.sell() && !before.sell()) {
    e.sell_signal = true;
    const bool candle = *r.bear_candle != '\0';
    e.signal_tier = r.overbought_turn && candle ? "A" : r.overbought_turn ? "B" : "C";
    std::string why;
    if (r.overbought_turn)
      why = fmt::format("RSI 近 5 根最高 {} > 70 后回落至 {} 且收盘下跌", f2(r.rsi_max), f1(r.rsi));
    if (candle)
      why += fmt::format("{}在布林上轨 {} 附近出现{}", why.empty() ? "" : "，", f3(r.upper),
                         std::string(r.bear_candle) == "engulfing" ? "看跌吞没" : "黄昏之星");
    e.reason = fmt::format("{}，触发超买回落卖出（{} 级）。", why, e.signal_tier);
  } else if (r.buy() && !before.buy()) {
    e.buy_signal = true;
    const bool candle = *r.bull_candle != '\0';
    e.signal_tier = r.divergence() && candle ? "A" : r.divergence() ? "B" : "C";
    e.reason = fmt::format("{}，{}，触发超跌反转买入（{} 级）。", turn_text(r), confirm_text(r), e.signal_tier);
  } else if (r.sell() || r.buy()) {
    e.reason = fmt::format("{}信号已在前一根K线发出，本根不重复触发。", r.sell() ? "超买回落" : "超跌反转");
  } else if (r.oversold_turn()) {
    e.reason = fmt::format("{}，但没有底背离或看涨反转K线确认，暂不买入。", turn_text(r));
  } else if (r.rsi < OVERSOLD) {
    e.reason = fmt::format("RSI {} 处于超卖区但尚未回升，等待企稳。", f1(r.rsi));
  } else {
    e.reason = fmt::format("RSI {}，收盘 {} 在布林带 {}-{} 之间，没有超卖反转或超买回落。", f1(r.rsi), f3(r.close),
                           f3(r.lower), f3(r.upper));
  }
}

std::string state_of(const Reading& r) {
  if (r.sell()) return "超买回落";
  if (r.buy()) return "超卖反转";
  if (r.oversold_turn()) return "超卖待确认";
  if (r.rsi < OVERSOLD) return "超卖";
  return r.rsi > OVERBOUGHT ? "超买" : "观望";
}

Json details_of(const Reading& r) {
  return Json{{"close", num3(r.close)},
              {"RSI", num3(r.rsi)},
              {"RSI_prev", num3(r.rsi_prev)},
              {"RSI_min_5", num3(r.rsi_min)},
              {"RSI_max_5", num3(r.rsi_max)},
              {"upper_band", num3(r.upper)},
              {"middle_band", num3(r.middle)},
              {"lower_band", num3(r.lower)},
              {"MACD_hist", num3(r.hist)},
              {"ATR", num3(r.atr)},
              {"low_5d", num3(r.new_low)},
              {"prior_low", num3(r.old_low)},
              {"prior_low_bars_ago", r.old_low_bars_ago},
              {"RSI_at_low", num3(r.rsi_new)},
              {"RSI_at_prior_low", num3(r.rsi_old)},
              {"MACD_hist_at_low", num3(r.hist_new)},
              {"MACD_hist_at_prior_low", num3(r.hist_old)},
              {"bullish_candle", r.bull_candle},
              {"bearish_candle", r.bear_candle}};
}

}  // namespace

// ENGINE2_REVERSAL - oversold reversal. Needs 80 complete bars (MACD warm-up plus the 35-bar
// divergence look-back).
//
// Series: RSI(14), Bollinger bands (20 bars, 2 standard deviations) of the close, MACD(12/26/9)
// histogram, ATR(14), the engulfing, morning-star and evening-star candles.
// Oversold turn at the last bar t, always with close_t > close_t-1: RSI under 30 on one of the last
// 5 bars and RSI_t > RSI_t-1; or a close under the lower band on one of the 3 bars before t and
// close_t back at or above the lower band.
// Confirmations: bullish divergence - the lowest low of the last 5 bars undercuts the lowest low of
// bars t-35..t-6 while RSI, or the (negative at the earlier low) MACD histogram, is higher at the new
// low than at the earlier one; reversal candle - bullish engulfing or morning star on bar t or t-1.
// The earlier low must be a swing low (lowest within 3 bars either side), not the start of the
// same slide.
// Buy = oversold turn + a confirmation: tier A with divergence and candle, B divergence, C candle.
// Sell (overrides a buy): RSI above 70 on one of the last 5 bars, RSI_t < RSI_t-1 and a lower close;
// or a bearish engulfing / evening star on bar t after one of the last 3 highs reached the upper
// band. Tier A when both hold, B for the RSI turn, C for the candle.
// A buy or sell fires only on the first bar its conditions hold: not when they held at t-1 too.
// State (by the conditions, fired or not): 超买回落 (sell), 超卖反转 (buy), 超卖待确认 (turn
// without confirmation), 超卖 (RSI < 30), 超买 (RSI > 70), else 观望.
// Reference for 超卖反转 and 超卖待确认: stop = lowest low of the last 5 bars - 0.5 ATR,
// take-profit = close + 2 x (close - stop).
SignalEvent reversal_signal(const tarnel::BarTable& df) {
  Prepared p = prepare(df, SPEC);
  if (!p.bars) return p.event;
  const ReversalSeries s = compute(*p.bars);
  const Reading r = read(*p.bars, s, p.bars->last());
  SignalEvent e = std::move(p.event);
  decide(e, r, read(*p.bars, s, p.bars->last() - 1));
  e.state = state_of(r);
  if (e.state == "超卖反转" || e.state == "超卖待确认") {
    const auto ref = long_reference(r.close, r.new_low - STOP_ATR * r.atr);
    e.stop_loss = ref.stop_loss;
    e.take_profit = ref.take_profit;
  }
  e.details = details_of(r);
  return e;
}

}  // namespace zerith::engine
