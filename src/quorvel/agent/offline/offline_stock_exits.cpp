#include "quorvel/agent/offline/offline_stock_exits.h"

#include <cmath>

#include <fmt/format.h>

#include "quorvel/agent/offline/offline_stock_claims.h"
#include "quorvel/utils/number_text.h"

namespace quorvel::agent::offline {

namespace {

// Sessions searched for the reversal candle (the lowest low before the last bar).
constexpr std::size_t REVERSAL_SESSIONS = 10;
constexpr double EXIT_VOLUME_RATIO = 1.3, BOTTOM_PERCENTILE = 0.15, TREND_FLOOR_ADX = 20;

std::vector<std::string> trend_exits(const StockReading& r) {
  std::vector<std::string> out;
  const int dec = r.decimals;
  const Comparison volume{"量比", r.volume_ratio, EXIT_VOLUME_RATIO};
  if (r.ema5 < r.ema10 && volume.above())
    out.push_back(
        fmt::format("EMA5 {} 低于 EMA10 {} 且 {}", price_text(r.ema5, dec), price_text(r.ema10, dec), volume.text()));
  const Comparison adx{"ADX", r.adx, TREND_FLOOR_ADX};
  if (adx.below() && r.adx_3d_ago >= TREND_FLOOR_ADX)
    out.push_back(fmt::format("ADX 跌破 20：{}（3 日前 {:.2f}）", adx.text(), r.adx_3d_ago));
  const auto& h = r.macd_hist_last4;
  if (r.macd < r.macd_signal && h[0] > h[1] && h[1] > h[2] && h[2] > h[3])
    out.push_back(fmt::format("MACD 死叉（DIF {} < DEA {}）且柱状图 {}→{}→{}→{} 连续 3 日下降", r.macd, r.macd_signal,
                              h[0], h[1], h[2], h[3]));
  return out;
}

std::vector<std::string> bottom_exits(const StockPromptFacts& f, const StockReading& r) {
  std::vector<std::string> out;
  const auto& d = f.daily;
  if (d.rows() > REVERSAL_SESSIONS && d.has_column("low")) {
    std::size_t at = d.rows() - 1 - REVERSAL_SESSIONS;
    for (std::size_t i = at; i + 1 < d.rows(); ++i)
      if (d.at("low", i) < d.at("low", at)) at = i;
    if (r.close < d.at("low", at))
      out.push_back("收盘 " + price_text(r.close, r.decimals) + " 跌破反转K线（" + d.date_at(at) +
                    "，此前 10 日最低点）低点 " + price_text(d.at("low", at), r.decimals));
  }
  const Comparison percentile{"60日分位", (r.close - r.low_60d) / (r.high_60d - r.low_60d), BOTTOM_PERCENTILE};
  if (percentile.at_most())
    out.push_back(percentile.text() + "（收盘在 60 日最低 " + price_text(r.low_60d, r.decimals) + " – 最高 " +
                  price_text(r.high_60d, r.decimals) + " 区间中的位置）");
  return out;
}

std::vector<std::string> range_exits(const StockPromptFacts& f, const StockReading& r) {
  std::vector<std::string> out;
  const Comparison volume{"量比", r.volume_ratio, EXIT_VOLUME_RATIO};
  if (r.close < r.support.price && volume.above())
    out.push_back("收盘 " + price_text(r.close, r.decimals) + " 放量跌破区间下沿 " +
                  price_text(r.support.price, r.decimals) + "，" + volume.text());
  // Opening downward: the bands widen, the lower band falls and the close is under the middle band.
  const auto px = [&](double v) { return round_half_even(v, r.decimals); };
  const auto& d = f.daily;
  const double upper_3d = last_value(d, "upper_band", 3), lower_3d = last_value(d, "lower_band", 3);
  const double width = px(r.upper_band - r.lower_band), width_3d = px(upper_3d - lower_3d);
  const double middle = px((r.upper_band + r.lower_band) / 2);
  if (width > width_3d && r.lower_band < lower_3d && px(r.close) < middle)
    out.push_back("布林带向下开口：带宽 " + price_text(width_3d, r.decimals) + " → " + price_text(width, r.decimals) +
                  " 扩大，下轨 " + price_text(lower_3d, r.decimals) + " → " + price_text(r.lower_band, r.decimals) +
                  " 下移，收盘 " + price_text(r.close, r.decimals) + " 低于中轨 " + price_text(middle, r.decimals));
  return out;
}

}  // namespace

std::vector<std::string> active_exit_signals(const StockPromptFacts& f, const StockReading& r,
                                             const std::string& strategy_mode) {
  if (strategy_mode == "趋势跟随") return trend_exits(r);
  if (strategy_mode == "底部反转") return bottom_exits(f, r);
  if (strategy_mode == "区间震荡") return range_exits(f, r);
  if (r.close < r.support.price)
    return {"收盘 " + price_text(r.close, r.decimals) + " 跌破支撑 " + price_text(r.support.price, r.decimals)};
  return {};
}

std::string watched_exit_signals(const std::string& strategy_mode) {
  if (strategy_mode == "趋势跟随") return "EMA5 下穿 EMA10 且量比 > 1.3；ADX 跌破 20；MACD 死叉且柱状图连续 3 日下降";
  if (strategy_mode == "底部反转") return "跌破反转K线低点；60日分位 ≤ 0.15";
  if (strategy_mode == "区间震荡") return "放量跌破区间下沿；布林带向下开口";
  return "收盘跌破支撑";
}

}  // namespace quorvel::agent::offline
