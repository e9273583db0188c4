#include "zerith/scan_setups.h"

#include <algorithm>
#include <cmath>

namespace zerith {

namespace {

// Value `back` bars before the last one; NaN when the series is too short.
double ago(const Series& x, std::size_t back) {
  return back < x.size() ? x[x.size() - 1 - back] : std::nan("");
}

bool bull_stack_at(const ScanSeries& s, std::size_t i) {
  return s.ema5[i] > s.ema10[i] && s.ema10[i] > s.ema20[i];
}

// Bars since `cond(i)` last turned from false to true at or before the last bar; -1 when it is
// false on the last bar or has been true for the whole window.
template <class Cond>
int age_of_onset(const ScanSeries& s, std::size_t window, Cond cond) {
  const std::size_t last = s.last();
  if (!cond(last)) return -1;
  for (std::size_t back = 1; back <= window && back <= last; ++back)
    if (!cond(last - back)) return int(back) - 1;
  return -1;
}

// Bars since `cond(i)` was last true within the window; -1 when it never was.
template <class Cond>
int age_of_last(const ScanSeries& s, std::size_t window, Cond cond) {
  const std::size_t last = s.last();
  for (std::size_t back = 0; back <= window && back <= last; ++back)
    if (cond(last - back)) return int(back);
  return -1;
}

void add(SetupScore& r, bool hit, double points, const char* signal, const char* family) {
  if (!hit) return;
  r.score += points;
  r.signals.emplace_back(signal);
  if (std::find(r.families.begin(), r.families.end(), family) == r.families.end()) r.families.emplace_back(family);
}

double max_of(const Series& x, std::size_t from, std::size_t to) {  // [from, to)
  return *std::max_element(x.begin() + from, x.begin() + to);
}
double min_of(const Series& x, std::size_t from, std::size_t to) {
  return *std::min_element(x.begin() + from, x.begin() + to);
}

}  // namespace

// Trend following, only with the EMA5 > EMA10 > EMA20 stack in place and the close above EMA20:
// a rising EMA stack above the 60-day line, a trend that ADX confirms and
// strengthens, price carried by volume (VWMA), positive momentum, and a close that has not run
// more than two ATR away from EMA20. Trigger: the EMA stack forming, or a close back above EMA10
// after a pullback inside the stack.
SetupScore score_trend(const ScanSeries& s) {
  SetupScore r;
  r.type = r.hint = "趋势跟随";
  const std::size_t t = s.last();
  const double c = s.close[t];
  if (!bull_stack_at(s, t) || !(c > s.ema20[t])) return r;
  add(r, true, 2.0, "EMA多头排列", "均线结构");
  add(r, c > s.ema60[t], 1.0, "站上EMA60", "均线结构");
  add(r, s.adx[t] > 25.0, 1.0, "ADX>25趋势有效", "趋势强度");
  add(r, s.adx[t] > ago(s.adx, 3), 1.0, "ADX上升", "趋势强度");
  add(r, c >= s.vwma[t] * 0.98 && s.vwma[t] > ago(s.vwma, 3), 1.0, "VWMA资金确认", "量能");
  add(r, s.macd_hist[t] > 0.0, 1.0, "MACD红柱", "动量");
  add(r, s.volume_ratio[t] >= 1.2 && c > ago(s.close, 1), 1.0, "放量上涨", "量能");
  add(r, s.atr[t] > 0.0 && std::abs(c - s.ema20[t]) <= 2.0 * s.atr[t], 1.0, "距EMA20两倍ATR内", "位置");
  const int stack_age = age_of_onset(s, 10, [&](std::size_t i) { return bull_stack_at(s, i); });
  const int reclaim_age = age_of_last(s, 10, [&](std::size_t i) {
    return i > 0 && bull_stack_at(s, i) && s.close[i] > s.ema10[i] && s.close[i - 1] <= s.ema10[i - 1];
  });
  if (stack_age >= 0 && (reclaim_age < 0 || stack_age <= reclaim_age)) {
    r.trigger_age = stack_age;
    r.trigger = "EMA5/10/20 形成多头排列";
  } else if (reclaim_age >= 0) {
    r.trigger_age = reclaim_age;
    r.trigger = "回踩后收复 EMA10";
  }
  return r;
}

// Bottom reversal, only below EMA60 or at least 10% under the 60-day high, and only once a turn
// shows (an oversold RSI turning up, a close back inside the lower band, a divergence or a reversal
// candle): an RSI that was oversold and turns up, a close recaptured inside the lower Bollinger band, a bullish divergence
// (a lower price low with a higher MACD-histogram low than 20-40 bars earlier), a bullish reversal
// candle, a close above EMA5 and an up day on volume. Trigger: the latest of these events.
SetupScore score_bottom(const ScanSeries& s) {
  SetupScore r;
  r.type = r.hint = "底部反转";
  const std::size_t t = s.last();
  const double c = s.close[t];
  const double high60 = max_of(s.high, t + 1 - MIN_SCAN_BARS, t + 1);
  if (!(c < s.ema60[t] || c <= high60 * 0.90)) return r;

  const int oversold_age = age_of_last(s, 5, [&](std::size_t i) { return s.rsi[i] < 30.0; });
  const bool rsi_turn = oversold_age >= 0 && s.rsi[t] > ago(s.rsi, 1);
  add(r, rsi_turn, 2.0, "RSI超卖回升", "超卖");
  const int band_age = age_of_last(s, 5, [&](std::size_t i) { return s.close[i] < s.lower[i]; });
  add(r, band_age > 0 && c > s.lower[t], 1.0, "收回布林下轨", "通道");
  // Divergence: the recent 20-bar low against the low of the 20 bars before it.
  bool divergence = false;
  if (t + 1 >= 40) {
    const std::size_t a = t + 1 - 40, b = t + 1 - 20;
    const auto prev = std::min_element(s.low.begin() + a, s.low.begin() + b) - s.low.begin();
    const auto recent = std::min_element(s.low.begin() + b, s.low.begin() + t + 1) - s.low.begin();
    divergence = s.low[recent] < s.low[prev] && s.macd_hist[recent] > s.macd_hist[prev] && s.macd_hist[prev] < 0.0;
  }
  add(r, divergence, 2.0, "MACD底背离", "背离");
  const int candle_age = age_of_last(s, 2, [&](std::size_t i) { return s.engulfing[i] > 0 || s.morning_star[i] > 0; });
  add(r, candle_age >= 0, 1.5, "看涨反转K线", "K线形态");
  add(r, c > s.ema5[t], 1.0, "站上EMA5", "位置");
  add(r, s.volume_ratio[t] >= 1.2 && c > ago(s.close, 1), 1.0, "放量阳线", "量能");
  add(r, c <= high60 * 0.85, 1.0, "距60日高点回撤超15%", "位置");
  if (!rsi_turn && !(band_age > 0 && c > s.lower[t]) && !divergence && candle_age < 0) {
    SetupScore none;
    none.type = none.hint = r.type;
    return none;
  }
  const int rsi_age = rsi_turn ? oversold_age : -1;
  for (auto [age, what] : {std::pair{candle_age, "看涨反转K线"}, std::pair{rsi_age, "RSI 超卖后回升"},
                           std::pair{band_age > 0 && c > s.lower[t] ? band_age - 1 : -1, "收回布林下轨"}})
    if (age >= 0 && (r.trigger_age < 0 || age < r.trigger_age)) {
      r.trigger_age = age;
      r.trigger = what;
    }
  return r;
}

// Waiting for a breakout, only with EMA5/10/20 pressed together (spread under 2%): VWMA within 1% of EMA20,
// ATR near its 20-day low, Bollinger width in the narrowest fifth of 120 bars, volume drying up,
// no trend (ADX < 20) and a close within 3% of the 20-day high. Trigger: a close above the
// previous 20-day high.
SetupScore score_breakout(const ScanSeries& s) {
  SetupScore r;
  r.type = r.hint = "等待突破";
  const std::size_t t = s.last();
  const double c = s.close[t];
  const double e5 = s.ema5[t], e10 = s.ema10[t], e20 = s.ema20[t];
  const double spread = (std::max({e5, e10, e20}) - std::min({e5, e10, e20})) / e20;
  const bool pressed = spread < 0.02;
  const bool vwma_close = std::abs(s.vwma[t] - e20) / e20 <= 0.01;
  if (!pressed) return r;
  add(r, true, 2.0, "均线粘合", "均线结构");
  add(r, vwma_close, 1.0, "VWMA贴合EMA20", "均线结构");
  add(r, s.atr[t] <= 1.1 * min_of(s.atr, t + 1 - 20, t + 1), 1.0, "ATR收敛", "波动收敛");
  const std::size_t from = t + 1 >= 120 ? t + 1 - 120 : 0;
  std::size_t narrower = 0, counted = 0;
  const double width = (s.upper[t] - s.lower[t]) / s.middle[t];
  for (std::size_t i = from; i <= t; ++i) {
    const double w = (s.upper[i] - s.lower[i]) / s.middle[i];
    if (!std::isfinite(w)) continue;
    ++counted;
    if (w < width) ++narrower;
  }
  add(r, counted >= 40 && narrower <= counted / 5, 1.0, "布林收口", "波动收敛");
  int quiet = 0;
  for (std::size_t back = 0; back < 5; ++back) quiet += ago(s.volume_ratio, back) < 0.8;
  add(r, quiet >= 3, 1.0, "缩量蓄势", "量能");
  add(r, s.adx[t] < 20.0, 1.0, "ADX<20无趋势", "趋势强度");
  const double prior_high = max_of(s.high, t - 20, t);
  add(r, c >= prior_high * 0.97, 1.0, "逼近20日高点", "位置");
  if (pressed && vwma_close) r.hint = "均线压缩";
  const int breakout_age = age_of_last(s, 3, [&](std::size_t i) { return i >= 20 && s.close[i] > max_of(s.high, i - 20, i); });
  if (breakout_age >= 0) {
    r.trigger_age = breakout_age;
    r.trigger = "收盘突破前20日高点";
  }
  return r;
}

bool is_range_market(const ScanSeries& s) {
  const std::size_t t = s.last();
  const double hi = max_of(s.high, t + 1 - 20, t + 1), lo = min_of(s.low, t + 1 - 20, t + 1);
  return s.adx[t] < 20.0 && lo > 0.0 && hi / lo - 1.0 <= 0.15;
}

}  // namespace zerith
