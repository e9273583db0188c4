#pragma once
// The opportunity radar's judgement of one instrument on its last bar, daily or weekly: a state
// for the last bar and the one before it, buy and sell signals from the change of state, a volume
// anomaly, an opportunity (the pattern pre-screen passed and its trigger fired within the last 3
// bars), risk flags, and a 0-100 technical score made of named points. A pure function of the
// bars; deterministic and thread-safe.
//
// Buy: an up bar that turns the state to TREND_UP or RIGHT_START from any other. Sell: a down bar
// that leaves those two states with the close under EMA20, or that enters LEFT_DECLINE. Volume
// anomaly: volume ratio >= min_vol_ratio and |change| >= min_pct_change. Risk: 放量下跌 (the same
// surge on a fall), 高潮量, 放量不涨, 黄昏星 (as the pre-screen defines them), 跌破EMA60 (the close
// crossing under EMA60). Buy, anomaly and opportunity also need the traded amount to reach
// min_amount_ea.
//
// States (code / name), first match wins, on EMA5/10/20/60, RSI(14) and ADX(14) of the bar:
//   TREND_UP      趋势上涨  EMA5 > EMA10 > EMA20, close above EMA20, EMA20 rising
//   LEFT_DECLINE  左侧下跌  close below EMA20, EMA5 below EMA10, EMA20 not rising
//   PULLBACK      上升回调  close below EMA10 but above EMA60, EMA20 above EMA60
//   RIGHT_START   右侧启动  close above EMA20, EMA5 above EMA10
//   BOTTOMING     底部企稳  close below EMA60 but not below EMA5, RSI turning up
//   RANGE         区间震荡  ADX below 20
//   CONSOLIDATION 震荡整理  anything else
#include <cstddef>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"
#include "contracts/pattern_service.h"
#include "zerith/index_context.h"
#include "zerith/scan_series.h"
#include "zerith/scan_setups.h"

namespace zerith {

// Fewest bars of the chosen frequency: the scan's minimum, plus one for the previous state.
inline constexpr std::size_t MIN_RADAR_BARS = MIN_SCAN_BARS + 1;
// Pass mark of the pattern pre-screen that makes an opportunity (the technical selectors' own).
inline constexpr double RADAR_SCAN_MIN_SCORE = 3.0;

// Thresholds with the service's choices filled in and checked: frequency "daily" (default) or
// "weekly"; weekly_mode "live" (default: the week in progress is the last weekly bar) or "closed"
// (only finished weeks); no amount floor when min_amount_ea is absent. A ValueError for any other
// frequency or mode, or for a negative or non-finite threshold.
RadarThresholds checked_thresholds(const RadarThresholds& thresholds);

// The bars judged at the (checked) frequency: the daily bars, or calendar-week bars built from
// them. In "closed" mode the last week is left out while `market` ("A", "HK", "US", "ETF") still
// has trading days in it after its last bar: a week whose Friday is a holiday is finished on its
// last trading day.
tarnel::BarTable radar_bars(const tarnel::BarTable& daily, const RadarThresholds& checked,
                            const std::string& market = "A");

// A traded amount for people: "1.23亿", "456.78万", or the plain amount (quote currency).
std::string amount_text(double amount);

struct RadarState {
  const char* code;
  const char* cn;
};
// The state of bar `i` (1 <= i < s.size(), with EMA60 defined on it).
RadarState radar_state_at(const ScanSeries& s, std::size_t i);

struct RadarRequest {
  std::string symbol;
  std::string name;
  RadarThresholds thresholds;         // checked_thresholds() is applied again
  std::optional<IndexContext> index;  // the market's first index (daily only), for the pre-screen
  std::string index_reason;           // why there is none
};

// The evaluation map: symbol, name, frequency, as_of, bars, data_sufficient, tech_score,
// score_parts, the five flags, curr/prev state (code and name), close, vol_ratio (x), change_pct
// (percent), amount_ea (quote currency; close x volume when the bars carry no amount, with
// amount_estimated), liquid, risk_reasons, reasons, reason and pre_screen_res (the pattern
// pre-screen of the same bars). Too few bars: every flag false, states empty, with the reason.
nlohmann::ordered_json evaluate_radar_item(const tarnel::BarTable& daily, const RadarRequest& request);

}  // namespace zerith
