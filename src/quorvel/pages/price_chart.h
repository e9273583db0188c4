#pragma once
// The charts of the report pages, as inline SVG (no script, no external resource): the daily
// candlestick chart of an analysis with its moving averages, Bollinger bands, volume and the plan
// drawn on it, and the cumulative-R line of the plan ledger.
//
// The markup is part of the page's contract (the browser tests read it back):
//   <svg class="price-chart" viewBox="0 0 W H" data-price-top="P1" data-price-bottom="P0"
//        data-plot-top="Y1" data-plot-bottom="Y0">
//     a price p is drawn at y = Y1 + (P1 - p) / (P1 - P0) * (Y0 - Y1), in viewBox units
//   <g class="candle" data-date="YYYY-MM-DD" data-open=.. data-high=.. data-low=.. data-close=..>
//     one per bar, oldest first, holding a <line class="wick"> and a <rect class="body">; class
//     "up" (close >= open, red, as these markets colour a rise) or "down" (green)
//   <rect class="volume" data-date=..>, one per bar, in the volume pane below the prices
//   <polyline class="overlay" data-series="ema20|ema60|boll_upper|boll_middle|boll_lower">
//   <rect class="entry-band" data-low=.. data-high=..> across the plot, when the plan has a range
//   <line class="level" data-level="stop|target_1|target_2|support|resistance|entry_low|entry_high"
//         data-price=.. y1=y2> across the plot, with a <text class="level-label"> naming it and its price;
//     a level outside the drawn price range gets data-offscale="above|below" and is drawn at that edge
#include <optional>
#include <string>
#include <vector>

namespace quorvel::pages {

struct ChartBar {
  std::string date;  // "YYYY-MM-DD"
  double open = 0, high = 0, low = 0, close = 0, volume = 0;
};

// A horizontal level of the plan or of the pre-screen.
struct PlanLevel {
  std::string key;    // stop, target_1, target_2, support, resistance, entry_low, entry_high
  std::string label;  // as shown: "止损", "目标1", "目标2", "支撑", "压力", ...
  double price = 0;
};

struct PriceChartData {
  std::vector<ChartBar> bars;  // oldest first; the caller passes the bars to draw (the last 120)
  // Aligned with `bars`; NaN where the indicator has no value yet (drawn as a gap). Empty: not drawn.
  std::vector<double> ema20, ema60, boll_upper, boll_middle, boll_lower;
  std::optional<double> entry_low, entry_high;  // the plan's entry range, drawn as a band
  std::vector<PlanLevel> levels;                // finite, positive prices only
  int price_decimals = 2;                       // of the labels
};

// The candlestick chart; an empty `bars` gives a small drawing that says there is no data.
std::string price_chart_svg(const PriceChartData& data);

struct CumulativePoint {
  std::string date;  // analysis day of the plan that closed
  double cumulative_r = 0;
};

// The ledger's cumulative R over time: <svg class="r-chart"> with a zero line and
// <polyline class="cumulative-r">, points in the order given; empty points say no buy has filled yet.
std::string cumulative_r_svg(const std::vector<CumulativePoint>& points);

}  // namespace quorvel::pages
