#include "quorvel/agent/offline/offline_stock_mode.h"

#include <algorithm>
#include <cmath>

#include "quorvel/agent/offline/offline_stock_claims.h"
#include "quorvel/utils/number_text.h"

namespace quorvel::agent::offline {

namespace {

// Below this ADX the prompt calls the market a range; above SQUEEZE_ADX a trend may be chased.
constexpr double RANGE_ADX = 20, SQUEEZE_ADX = 30;
// Price floor of the VWMA check on a pullback, and the RSI below which a base is watched.
constexpr double VWMA_PULLBACK_SHARE = 0.95, BASE_RSI = 40;

bool bottom_hint(const StockReading& r) {
  std::string hint = r.strategy_hint;
  std::transform(hint.begin(), hint.end(), hint.begin(), [](unsigned char ch) { return char(std::tolower(ch)); });
  return hint.find("反转") != std::string::npos || hint.find("bottom") != std::string::npos;
}

struct Tests {
  Comparison adx_trend, adx_range, rsi, vwma, spread, vwma_gap, atr_low;
};

Tests tests_of(const StockReading& r) {
  const int dec = r.decimals;
  const double spread = (std::max({r.ema5, r.ema10, r.ema20}) - std::min({r.ema5, r.ema10, r.ema20})) / r.ema20 * 100;
  return Tests{{"ADX", r.adx, r.adx_threshold},
               {"ADX", r.adx, RANGE_ADX},
               {"RSI", r.rsi, BASE_RSI},
               {"收盘", r.close, round_half_even(r.vwma * VWMA_PULLBACK_SHARE, dec), dec},
               {"EMA5/10/20 间距%", spread, 2},
               {"|VWMA−EMA20|/EMA20%", std::fabs(r.vwma - r.ema20) / r.ema20 * 100, 1},
               {"ATR/20日最低ATR", r.atr / r.atr_low_20d, 1.1}};
}

std::string tier_bound(const StockReading& r) { return "（" + r.tier + "阈值）"; }

// Why a state that fits no frame fits none, naming the nearest frame's failed test.
std::string no_frame_reason(const StockReading& r, const Tests& t) {
  if (r.alignment == "空头排列")
    return "下降趋势：" + alignment_claim(r) + "；" + t.rsi.text() + "，无筑底迹象；" + t.adx_range.text() +
           "，亦非区间震荡。核心前提不支持做多，空仓等待";
  std::string out = "混合状态：" + alignment_claim(r);
  if (r.alignment == "多头排列")
    out += !t.adx_trend.above() ? "，但 " + t.adx_trend.text() + tier_bound(r) + "，趋势强度不足以做趋势跟随"
                                : "，但 " + t.vwma.text() + "（VWMA×0.95），资金验证未通过";
  return out + "；" + t.adx_range.text() + "，不满足区间震荡的 ADX < 20。不强行套用单一框架，空仓等待";
}

}  // namespace

void choose_mode(const StockReading& r, TradePlan& p) {
  const Tests t = tests_of(r);
  const bool deep = has_flag(r, "回撤过深") || has_flag(r, "回撤过长");
  p.stage = r.alignment == "多头排列" ? "上升趋势中" : r.alignment == "空头排列" ? "下降趋势中" : "横盘震荡";
  if (!std::isfinite(r.close) || !std::isfinite(r.ema20)) {
    p.strategy_mode = "空仓等待";
    p.mode_reason = "日线收盘或 EMA20 缺失，无法判断框架";
  } else if (r.alignment == "多头排列" && t.adx_trend.above() && t.vwma.at_least()) {
    p.strategy_mode = "趋势跟随";
    p.mode_reason = alignment_claim(r) + "；" + t.adx_trend.text() + tier_bound(r) + "；" + t.vwma.text() +
                    "（VWMA×0.95），回踩阶段资金验证通过";
  } else if (t.spread.below() && t.vwma_gap.at_most() && t.atr_low.at_most()) {
    p.strategy_mode = "均线压缩";
    p.mode_reason = t.spread.text() + "，" + t.vwma_gap.text() + "，" + t.atr_low.text() + "，等待放量突破";
  } else if (r.alignment != "多头排列" && (deep || bottom_hint(r) || t.rsi.below())) {
    p.strategy_mode = "底部反转";
    p.stage = "底部筑底";
    p.mode_reason = (deep             ? std::string("risk_flags 含回撤过深/过长")
                     : bottom_hint(r) ? "pre_screen.strategy_hint 为 " + r.strategy_hint
                                      : t.rsi.text()) +
                    "，" + alignment_claim(r) + "，按筑底观察评估底部反转候选";
  } else if (t.adx_range.below()) {
    p.strategy_mode = "区间震荡";
    p.mode_reason = t.adx_range.text() + "，" + alignment_claim(r) + "，按区间框架评估";
  } else {
    p.strategy_mode = "空仓等待";
    p.mode_reason = no_frame_reason(r, t);
  }
  if (p.strategy_mode != "趋势跟随") return;
  const Comparison squeeze{"ADX", r.adx, SQUEEZE_ADX};
  const Comparison to_ema5{"收盘距 EMA5 的 ATR 倍数", std::fabs(r.close - r.ema5) / r.atr, 1.0};
  p.squeeze_exemption = squeeze.above() && r.tier != "弱势档" && to_ema5.at_most();
  p.squeeze_reason = squeeze.text() + "，" + r.tier + "，" + to_ema5.text();
}

}  // namespace quorvel::agent::offline
