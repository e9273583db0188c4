#include "zerith/scan_members.h"

#include <algorithm>
#include <cmath>

#include <date/date.h>

#include "contracts/bar_table.h"
#include "quorvel/utils/number_text.h"
#include "zerith/scan_setups.h"

namespace zerith {

namespace {

double window_min(const Series& x, std::size_t n) {
  return *std::min_element(x.end() - std::ptrdiff_t(std::min(n, x.size())), x.end());
}
double window_max(const Series& x, std::size_t n) {
  return *std::max_element(x.end() - std::ptrdiff_t(std::min(n, x.size())), x.end());
}

std::string slope_word(double now, double before, double tolerance, const char* up, const char* down) {
  if (!std::isfinite(now) || !std::isfinite(before)) return "flat";
  if (now - before > tolerance) return up;
  if (before - now > tolerance) return down;
  return "flat";
}

date::sys_days week_start(date::sys_days d) {
  return d - (date::weekday(d) - date::Monday);
}

}  // namespace

Json price_context(const ScanSeries& s) {
  const std::size_t t = s.last();
  const double low20 = window_min(s.low, 20), high20 = window_max(s.high, 20);
  const double support = std::isfinite(s.ema20[t]) ? std::min(low20, s.ema20[t]) : low20;
  const double resistance = std::isfinite(s.upper[t]) ? std::max(high20, s.upper[t]) : high20;
  return Json{{"support", num(support)},     {"resistance", num(resistance)}, {"low_5d", num(window_min(s.close, 5))},
              {"low_20d", num(low20)},       {"high_20d", num(high20)},       {"ema20", num(s.ema20[t])},
              {"upper_band", num(s.upper[t])}};
}

WeeklyPivots weekly_pivots(const ScanSeries& s) {
  WeeklyPivots out;
  const auto current = week_start(s.dates.back());
  // The newest bar of an earlier week, then that week's bars.
  std::size_t end = s.size();
  while (end > 0 && s.dates[end - 1] >= current) --end;
  if (end == 0) {
    out.reason = "数据中没有上一完整周的K线";
    return out;
  }
  const auto week = week_start(s.dates[end - 1]);
  std::size_t begin = end;
  while (begin > 0 && s.dates[begin - 1] >= week) --begin;
  double h = s.high[begin], l = s.low[begin];
  for (std::size_t i = begin; i < end; ++i) {
    h = std::max(h, s.high[i]);
    l = std::min(l, s.low[i]);
  }
  const double c = s.close[end - 1], p = (h + l + c) / 3.0, range = h - l;
  const std::string week_end = tarnel::date_text(s.dates[end - 1]);
  out.classic = Json{{"week_end", week_end},        {"P", num(p)},
                     {"R1", num(2 * p - l)},        {"R2", num(p + range)},
                     {"R3", num(h + 2 * (p - l))},  {"S1", num(2 * p - h)},
                     {"S2", num(p - range)},        {"S3", num(l - 2 * (h - p))}};
  out.fibonacci = Json{{"week_end", week_end},           {"P", num(p)},
                       {"R1", num(p + 0.382 * range)},   {"R2", num(p + 0.618 * range)},
                       {"R3", num(p + range)},           {"S1", num(p - 0.382 * range)},
                       {"S2", num(p - 0.618 * range)},   {"S3", num(p - range)}};
  return out;
}

Json trend_structure(const ScanSeries& s) {
  const std::size_t t = s.last();
  const double e5 = s.ema5[t], e10 = s.ema10[t], e20 = s.ema20[t], e60 = s.ema60[t];
  std::string alignment = "交织";
  if (e5 > e10 && e10 > e20 && e20 > e60) alignment = "多头排列";
  if (e5 < e10 && e10 < e20 && e20 < e60) alignment = "空头排列";
  const double vwma_before = t >= 3 ? s.vwma[t - 3] : NAN;
  const double adx_before = t >= 3 ? s.adx[t - 3] : NAN;
  // The EMA values themselves are in the bar data the prompt carries; only their order is added.
  Json out{{"ema_alignment", alignment},
           {"vwma", num(s.vwma[t])},
           // A move of more than 0.1% of VWMA over 3 bars counts as a slope.
           {"vwma_slope", slope_word(s.vwma[t], vwma_before, std::abs(s.vwma[t]) * 0.001, "positive", "negative")},
           {"adx", num(s.adx[t], 2)},
           {"adx_change_3d", num(s.adx[t] - adx_before, 2)},
           // Half an ADX point over 3 bars counts as a slope.
           {"adx_slope", slope_word(s.adx[t], adx_before, 0.5, "rising", "falling")},
           {"close_to_ema20_atr", s.atr[t] > 0.0 ? num((s.close[t] - e20) / s.atr[t], 2) : Json(nullptr)},
           {"atr", num(s.atr[t])}};
  if (!std::isfinite(s.vwma[t])) out["vwma_reason"] = "近 20 日成交量为 0，无法计算 VWMA";
  if (!(s.atr[t] > 0.0)) out["close_to_ema20_atr_reason"] = "ATR 为 0 或缺失（价格无波动）";
  return out;
}

Pullback pullback(const ScanSeries& s) {
  Pullback p;
  const std::size_t t = s.last(), from = t + 1 - std::min(MIN_SCAN_BARS, s.size());
  const std::size_t peak = std::size_t(std::max_element(s.high.begin() + from, s.high.begin() + t + 1) - s.high.begin());
  if (s.high[peak] > 0.0) p.depth_pct = (s.high[peak] - s.close[t]) / s.high[peak] * 100.0;
  p.days = int(t - peak);
  double sum = 0.0;
  int down = 0;
  for (std::size_t i = peak + 1; i <= t; ++i)
    if (s.close[i] < s.close[i - 1] && std::isfinite(s.volume_ratio[i])) {
      sum += s.volume_ratio[i];
      ++down;
    }
  if (down > 0) p.avg_vr = sum / down;
  return p;
}

double return_20d(const ScanSeries& s) {
  if (s.size() < 21 || !(s.close[s.last() - 20] > 0.0)) return NAN;
  return (s.close.back() / s.close[s.last() - 20] - 1.0) * 100.0;
}

Json candle_patterns(const ScanSeries& s) {
  Json out = Json::array();
  const std::size_t t = s.last();
  for (std::size_t i = t >= 2 ? t - 2 : 0; i <= t; ++i) {
    const std::string date = tarnel::date_text(s.dates[i]);
    if (s.engulfing[i] > 0) out.push_back({{"name", "看涨吞没"}, {"date", date}, {"signal", "bullish"}});
    if (s.engulfing[i] < 0) out.push_back({{"name", "看跌吞没"}, {"date", date}, {"signal", "bearish"}});
    if (s.morning_star[i] > 0) out.push_back({{"name", "启明星"}, {"date", date}, {"signal", "bullish"}});
    if (s.evening_star[i] < 0) out.push_back({{"name", "黄昏星"}, {"date", date}, {"signal", "bearish"}});
  }
  return out;
}

bool climax_volume(const ScanSeries& s) {
  const std::size_t t = s.last();
  if (!(s.volume_ratio[t] > 2.5)) return false;
  const double range = s.high[t] - s.low[t];
  const double upper_shadow = s.high[t] - std::max(s.open[t], s.close[t]);
  const bool down_close = t > 0 && s.close[t] < s.close[t - 1];
  return down_close || (range > 0.0 && upper_shadow >= 0.5 * range);
}

bool volume_without_gain(const ScanSeries& s) {
  const std::size_t t = s.last();
  return s.volume_ratio[t] > 1.3 && s.close[t] < s.open[t];
}

bool recent_evening_star(const ScanSeries& s) {
  const std::size_t t = s.last();
  for (std::size_t i = t >= 2 ? t - 2 : 0; i <= t; ++i)
    if (s.evening_star[i] != 0.0 && std::isfinite(s.evening_star[i])) return true;
  return false;
}

}  // namespace zerith
