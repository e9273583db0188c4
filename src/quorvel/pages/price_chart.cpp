#include "quorvel/pages/price_chart.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include <fmt/format.h>

#include "quorvel/pages/html_text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::pages {
namespace {

// Everything below is in viewBox units. The price pane takes about three quarters of the height;
// a gutter at the right end of the plot keeps the newest candles clear of the level labels, and
// the margin right of the plot holds the price axis.
constexpr double WIDTH = 1000, HEIGHT = 560;
constexpr double PLOT_LEFT = 10, PLOT_RIGHT = 915, LABEL_GUTTER = 100;
constexpr double PRICE_TOP = 30, PRICE_BOTTOM = 392;
constexpr double VOLUME_TOP = 408, VOLUME_BOTTOM = 518;
constexpr double DATE_BASELINE = 538;
constexpr double LEVEL_FONT = 11, LABEL_GAP = 13;
// Prices on the root and the data attributes: enough decimals for any quote; coordinates of
// price-mapped elements carry four, so a y maps back to its price well within 1e-6 relative.
constexpr int PRICE_ATTR_DECIMALS = 6, Y_DECIMALS = 4;

constexpr const char* UP_COLOR = "#d9363e";    // a rise is red in these markets
constexpr const char* DOWN_COLOR = "#1a9a4a";  // and a fall green
constexpr const char* FONT = "font-family=\"sans-serif\"";

using Out = std::back_insert_iterator<std::string>;

std::string y_text(double y) { return svg_number(y, Y_DECIMALS); }
std::string price_attr(double p) { return svg_number(p, PRICE_ATTR_DECIMALS); }
std::string fixed(double v, int decimals) { return fmt::format("{:.{}f}", v, std::clamp(decimals, 0, 8)); }

// Maps a value onto the vertical axis of a plot: `top` is drawn at y_top, `bottom` at y_bottom.
struct Scale {
  double top = 1, bottom = 0, y_top = 0, y_bottom = 1;
  double y(double v) const {
    if (!(top > bottom)) return (y_top + y_bottom) / 2;
    return y_top + (top - v) / (top - bottom) * (y_bottom - y_top);
  }
};

// Widens [lo, hi] by `fraction` of its span, or around a flat value by a share of its size, and
// rounds outward to the decimals the root attributes print, so that the printed bounds are the
// bounds the drawing used.
Scale padded_scale(double lo, double hi, double fraction, double y_top, double y_bottom) {
  const double span = hi - lo;
  const double size = std::max(std::abs(lo), std::abs(hi));
  const double pad = span > 0 ? std::max(span * fraction, size * 1e-4) : std::max(size * 0.05, 1.0);
  const double unit = std::pow(10.0, PRICE_ATTR_DECIMALS);
  return {std::ceil((hi + pad) * unit) / unit, std::floor((lo - pad) * unit) / unit, y_top, y_bottom};
}

// Round gridline values for [bottom, top]: a step of 1, 2, 2.5 or 5 times a power of ten that gives
// five or six lines where one does, else the count closest to that.
struct Grid {
  double step = 1;
  int decimals = 0;
  std::vector<double> values;
};

Grid nice_grid(double bottom, double top) {
  Grid grid;
  const double span = top - bottom;
  if (!(span > 0) || !std::isfinite(span)) return grid;
  const int base = int(std::floor(std::log10(span / 5)));
  double best_score = std::numeric_limits<double>::infinity();
  for (int e = base - 1; e <= base + 1; ++e) {
    for (const double m : {1.0, 2.0, 2.5, 5.0}) {
      const double step = m * std::pow(10.0, e);
      const double count = std::floor(top / step) - std::ceil(bottom / step) + 1;
      const double score = (count == 5 || count == 6) ? 0 : std::abs(count - 5.5);
      if (score <= best_score) best_score = score, grid.step = step;
    }
  }
  while (grid.decimals < 8) {
    const double scaled = grid.step * std::pow(10.0, grid.decimals);
    if (std::abs(scaled - std::round(scaled)) < 1e-6 * scaled) break;
    ++grid.decimals;
  }
  for (double k = std::ceil(bottom / grid.step); k * grid.step <= top; ++k) {
    grid.values.push_back(std::abs(k) < 0.5 ? 0.0 : k * grid.step);
  }
  return grid;
}

// Horizontal gridlines across the plot with their labels in the right margin.
void draw_grid(Out out, const Scale& s, const std::vector<std::string>& labels, const std::vector<double>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string y = y_text(s.y(values[i]));
    fmt::format_to(out, "<line class=\"grid\" x1=\"{}\" x2=\"{}\" y1=\"{}\" y2=\"{}\" stroke=\"#ececec\" stroke-width=\"1\"/>",
                   PLOT_LEFT, PLOT_RIGHT, y, y);
    fmt::format_to(out, "<text class=\"axis-label\" x=\"{}\" y=\"{}\" font-size=\"12\" fill=\"#666\">{}</text>",
                   PLOT_RIGHT + 6, svg_number(s.y(values[i]) + 4), html_escape(labels[i]));
  }
}

// Date labels under the drawing for the first, the last and a few evenly spaced middle points,
// centred on their point but kept inside [left, right].
void draw_dates(Out out, const std::vector<std::string>& dates, const std::vector<double>& xs, double left,
                double right, double baseline, size_t wanted) {
  const size_t n = dates.size();
  std::vector<size_t> picks;
  for (size_t k = 0; k < wanted && n > 0; ++k) {
    const size_t i = wanted == 1 ? 0 : k * (n - 1) / (wanted - 1);
    if (picks.empty() || picks.back() != i) picks.push_back(i);
  }
  constexpr double HALF_TEXT = 34;  // half the width of "YYYY-MM-DD" at font size 11
  for (const size_t i : picks) {
    const double x = std::clamp(xs[i], left + HALF_TEXT, right - HALF_TEXT);
    fmt::format_to(out, "<text class=\"date-label\" x=\"{}\" y=\"{}\" font-size=\"11\" fill=\"#666\" "
                   "text-anchor=\"middle\">{}</text>", svg_number(x), svg_number(baseline), html_escape(dates[i]));
  }
}

std::string empty_svg(const char* css_class, const char* message) {
  return fmt::format("<svg class=\"{}\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1000 80\" width=\"100%\" "
                     "preserveAspectRatio=\"xMidYMid meet\" role=\"img\" aria-label=\"{}\" {}>"
                     "<text x=\"500\" y=\"46\" font-size=\"16\" fill=\"#888\" text-anchor=\"middle\">{}</text></svg>",
                     css_class, message, FONT, message);
}

// ---- price chart ----

const char* level_color(const std::string& key) {
  if (key == "stop") return "#a4262c";
  if (key == "target_1") return "#1a7f4b";
  if (key == "target_2") return "#1f5fbf";
  if (key == "entry_low" || key == "entry_high") return "#b87400";
  return "#777777";  // support, resistance and anything else
}

// Where the plan's prices sit relative to the bars: the bars' own range, widened by every level,
// entry bound and overlay value that lies within one bar range of it. A price further out is off
// scale and drawn at the edge instead, so one distant target cannot squash the candles.
struct PriceRange {
  double lo = 0, hi = 0, reach = 0;
  int side(double p) const { return p > hi + reach ? 1 : p < lo - reach ? -1 : 0; }  // 1 above, -1 below
};

PriceRange price_range(const PriceChartData& d) {
  PriceRange r{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(), 0};
  for (const ChartBar& b : d.bars) {
    for (const double p : {b.low, b.high, b.open, b.close}) {
      if (std::isfinite(p)) r.lo = std::min(r.lo, p), r.hi = std::max(r.hi, p);
    }
  }
  if (r.lo > r.hi) r.lo = r.hi = 0;
  // Flat bars give no range to measure against: a twentieth of the price stands in for it.
  r.reach = r.hi > r.lo ? r.hi - r.lo : std::max(std::abs(r.hi) * 0.05, 1e-6);
  PriceRange widened = r;
  auto include = [&](double p) {
    if (std::isfinite(p) && r.side(p) == 0) widened.lo = std::min(widened.lo, p), widened.hi = std::max(widened.hi, p);
  };
  for (const PlanLevel& level : d.levels) include(level.price);
  if (d.entry_low && d.entry_high) include(*d.entry_low), include(*d.entry_high);
  for (const auto* series : {&d.ema20, &d.ema60, &d.boll_upper, &d.boll_middle, &d.boll_lower}) {
    for (const double v : *series) include(v);
  }
  return widened;
}

struct PriceLayout {
  Scale scale;
  PriceRange range;
  size_t bars = 0;
  double slot = 1, body_width = 1;
  double x(size_t i) const { return PLOT_LEFT + (double(i) + 0.5) * slot; }
  // A price on the plot, pinned to the nearer edge when it lies outside the drawn range.
  double y(double p) const { return std::clamp(scale.y(p), PRICE_TOP, PRICE_BOTTOM); }
};

void draw_candles(Out out, const PriceChartData& d, const PriceLayout& l) {
  for (size_t i = 0; i < d.bars.size(); ++i) {
    const ChartBar& b = d.bars[i];
    const bool up = b.close >= b.open;
    const char* color = up ? UP_COLOR : DOWN_COLOR;
    const double body_top = l.scale.y(std::max(b.open, b.close));
    const double body_height = std::max(1.0, l.scale.y(std::min(b.open, b.close)) - body_top);
    fmt::format_to(out, "<g class=\"candle {}\" data-date=\"{}\" data-open=\"{}\" data-high=\"{}\" data-low=\"{}\" "
                   "data-close=\"{}\">", up ? "up" : "down", html_escape(b.date), price_attr(b.open),
                   price_attr(b.high), price_attr(b.low), price_attr(b.close));
    fmt::format_to(out, "<line class=\"wick\" x1=\"{0}\" x2=\"{0}\" y1=\"{1}\" y2=\"{2}\" stroke=\"{3}\" "
                   "stroke-width=\"1\"/>", svg_number(l.x(i), 3), y_text(l.scale.y(b.high)),
                   y_text(l.scale.y(b.low)), color);
    fmt::format_to(out, "<rect class=\"body\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"{}\"/></g>",
                   svg_number(l.x(i) - l.body_width / 2, 3), y_text(body_top), svg_number(l.body_width, 3),
                   y_text(body_height), color);
  }
}

std::string volume_text(double v) {
  if (v >= 1e8) return fixed(v / 1e8, 2) + "亿";
  if (v >= 1e4) return fixed(v / 1e4, 1) + "万";
  return fixed(v, 0);
}

void draw_volume(Out out, const PriceChartData& d, const PriceLayout& l) {
  double max_volume = 0;
  for (const ChartBar& b : d.bars) {
    if (std::isfinite(b.volume)) max_volume = std::max(max_volume, b.volume);
  }
  fmt::format_to(out, "<text x=\"{}\" y=\"{}\" font-size=\"11\" fill=\"#999\">成交量</text>", PLOT_LEFT + 2,
                 VOLUME_TOP + 11);
  if (max_volume > 0) {
    fmt::format_to(out, "<text class=\"axis-label\" x=\"{}\" y=\"{}\" font-size=\"11\" fill=\"#666\">{}</text>",
                   PLOT_RIGHT + 6, VOLUME_TOP + 10, volume_text(max_volume));
  }
  for (size_t i = 0; i < d.bars.size(); ++i) {
    const ChartBar& b = d.bars[i];
    const double share = max_volume > 0 && std::isfinite(b.volume) ? std::max(0.0, b.volume) / max_volume : 0;
    const double h = share * (VOLUME_BOTTOM - VOLUME_TOP);
    fmt::format_to(out, "<rect class=\"volume\" data-date=\"{}\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" "
                   "fill=\"{}\" fill-opacity=\"0.7\"/>", html_escape(b.date),
                   svg_number(l.x(i) - l.body_width / 2, 3), svg_number(VOLUME_BOTTOM - h, 3),
                   svg_number(l.body_width, 3), svg_number(h, 3), b.close >= b.open ? UP_COLOR : DOWN_COLOR);
  }
}

struct OverlayStyle {
  const char* series;
  const char* color;
  double width;
  const char* dash;  // empty: solid
};

// One polyline per run of finite values: an indicator's warm-up or a missing value is a gap.
void draw_overlay(Out out, const std::vector<double>& values, const OverlayStyle& style, const PriceLayout& l) {
  const size_t n = std::min(values.size(), l.bars);
  std::string points;
  int count = 0;
  auto flush = [&] {
    if (count >= 2) {
      fmt::format_to(out, "<polyline class=\"overlay\" data-series=\"{}\" points=\"{}\" fill=\"none\" stroke=\"{}\" "
                     "stroke-width=\"{}\"{}/>", style.series, points, style.color, style.width,
                     *style.dash ? fmt::format(" stroke-dasharray=\"{}\"", style.dash) : "");
    }
    points.clear(), count = 0;
  };
  for (size_t i = 0; i < n; ++i) {
    if (!std::isfinite(values[i])) {
      flush();
      continue;
    }
    fmt::format_to(std::back_inserter(points), "{}{},{}", count ? " " : "", svg_number(l.x(i), 3),
                   y_text(l.y(values[i])));
    ++count;
  }
  flush();
}

const OverlayStyle OVERLAYS[] = {
    {"boll_upper", "#9a9a9a", 1, "4 3"}, {"boll_middle", "#b0b0b0", 1, ""}, {"boll_lower", "#9a9a9a", 1, "4 3"},
    {"ema60", "#1f6fd1", 1.4, ""},       {"ema20", "#f08c00", 1.4, ""},
};

const std::vector<double>& series_of(const PriceChartData& d, const std::string& name) {
  if (name == "ema20") return d.ema20;
  if (name == "ema60") return d.ema60;
  if (name == "boll_upper") return d.boll_upper;
  if (name == "boll_middle") return d.boll_middle;
  return d.boll_lower;
}

void draw_legend(Out out, const PriceChartData& d) {
  struct Item { const char* name; const char* color; bool shown; };
  const Item items[] = {{"EMA20", "#f08c00", !d.ema20.empty()},
                        {"EMA60", "#1f6fd1", !d.ema60.empty()},
                        {"BOLL", "#9a9a9a", !d.boll_upper.empty() || !d.boll_middle.empty() || !d.boll_lower.empty()}};
  double x = PLOT_LEFT;
  for (const Item& item : items) {
    if (!item.shown) continue;
    fmt::format_to(out, "<line x1=\"{}\" x2=\"{}\" y1=\"14\" y2=\"14\" stroke=\"{}\" stroke-width=\"2\"/>", x, x + 16,
                   item.color);
    fmt::format_to(out, "<text class=\"legend\" x=\"{}\" y=\"18\" font-size=\"12\" fill=\"#444\">{}</text>", x + 20,
                   item.name);
    x += 78;
  }
}

void draw_entry_band(Out out, const PriceChartData& d, const PriceLayout& l) {
  if (!d.entry_low || !d.entry_high || !std::isfinite(*d.entry_low) || !std::isfinite(*d.entry_high)) return;
  const double low = std::min(*d.entry_low, *d.entry_high), high = std::max(*d.entry_low, *d.entry_high);
  const double top = l.y(high), height = std::max(1.0, l.y(low) - top);
  fmt::format_to(out, "<rect class=\"entry-band\" data-low=\"{}\" data-high=\"{}\" x=\"{}\" y=\"{}\" width=\"{}\" "
                 "height=\"{}\" fill=\"#f0a020\" fill-opacity=\"0.14\"/>", price_attr(low), price_attr(high),
                 PLOT_LEFT, y_text(top), PLOT_RIGHT - PLOT_LEFT, y_text(height));
  // Named at its left end, inside the band when it is tall enough for a line of text.
  const double baseline = height >= 14 ? top + height / 2 + 4 : top - 3;
  fmt::format_to(out, "<text class=\"entry-label\" x=\"{}\" y=\"{}\" font-size=\"11\" fill=\"#8a5a00\">买入区 {}–{}</text>",
                 PLOT_LEFT + 6, y_text(baseline), fixed(low, d.price_decimals), fixed(high, d.price_decimals));
}

// Baselines for the level labels: just above their lines, pushed apart where lines lie closer
// than a text line, and kept inside the plot.
std::vector<double> label_baselines(const std::vector<double>& line_ys) {
  std::vector<size_t> order(line_ys.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return line_ys[a] < line_ys[b]; });
  std::vector<double> placed(order.size());
  const double lowest = PRICE_BOTTOM - 3, highest = PRICE_TOP + LEVEL_FONT;
  for (size_t k = 0; k < order.size(); ++k) {
    const double wanted = std::max(line_ys[order[k]] - 3, highest);
    placed[k] = k == 0 ? wanted : std::max(wanted, placed[k - 1] + LABEL_GAP);
  }
  for (size_t k = order.size(); k-- > 0;) {
    const double limit = k + 1 == order.size() ? lowest : placed[k + 1] - LABEL_GAP;
    placed[k] = std::min(placed[k], limit);
  }
  std::vector<double> baselines(line_ys.size());
  for (size_t k = 0; k < order.size(); ++k) baselines[order[k]] = placed[k];
  return baselines;
}

// All lines first, then the labels on a light backing, so that no line crosses a label that was
// pushed next to another level.
void draw_levels(Out out, const PriceChartData& d, const PriceLayout& l) {
  std::vector<double> ys;
  for (const PlanLevel& level : d.levels) ys.push_back(l.y(level.price));
  for (size_t i = 0; i < d.levels.size(); ++i) {
    const PlanLevel& level = d.levels[i];
    const int side = l.range.side(level.price);
    const std::string offscale = side == 0 ? "" : fmt::format(" data-offscale=\"{}\"", side > 0 ? "above" : "below");
    fmt::format_to(out, "<line class=\"level\" data-level=\"{0}\" data-price=\"{1}\"{2} x1=\"{3}\" x2=\"{4}\" "
                   "y1=\"{5}\" y2=\"{5}\" stroke=\"{6}\" stroke-width=\"1.2\" stroke-dasharray=\"6 4\"/>",
                   html_escape(level.key), price_attr(level.price), offscale, PLOT_LEFT, PLOT_RIGHT, y_text(ys[i]),
                   level_color(level.key));
  }
  const std::vector<double> baselines = label_baselines(ys);
  for (size_t i = 0; i < d.levels.size(); ++i) {
    const PlanLevel& level = d.levels[i];
    const int side = l.range.side(level.price);
    const std::string text = (level.label.empty() ? level.key : level.label) + " " +
                             fixed(level.price, d.price_decimals) + (side > 0 ? " ↑" : side < 0 ? " ↓" : "");
    // A wide (CJK) character is about one em, a narrow one a little over half of it.
    const double width = double(display_width(text)) * 0.55 * LEVEL_FONT + 4;
    fmt::format_to(out, "<rect class=\"level-label-bg\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" fill=\"#fff\" "
                   "fill-opacity=\"0.85\"/>", svg_number(PLOT_RIGHT - 2 - width), svg_number(baselines[i] - LEVEL_FONT),
                   svg_number(width), LEVEL_FONT + 3);
    fmt::format_to(out, "<text class=\"level-label\" data-level=\"{}\" x=\"{}\" y=\"{}\" font-size=\"{}\" "
                   "fill=\"{}\" text-anchor=\"end\">{}</text>", html_escape(level.key), PLOT_RIGHT - 4,
                   svg_number(baselines[i]), LEVEL_FONT, level_color(level.key), html_escape(text));
  }
}

}  // namespace

std::string price_chart_svg(const PriceChartData& d) {
  if (d.bars.empty()) return empty_svg("price-chart", "无K线数据");
  PriceLayout l;
  l.range = price_range(d);
  l.scale = padded_scale(l.range.lo, l.range.hi, 0.03, PRICE_TOP, PRICE_BOTTOM);
  l.bars = d.bars.size();
  l.slot = (PLOT_RIGHT - LABEL_GUTTER - PLOT_LEFT) / double(d.bars.size());
  l.body_width = std::clamp(l.slot * 0.7, 1.0, 14.0);

  std::string svg;
  auto out = std::back_inserter(svg);
  const std::string& first = d.bars.front().date;
  const std::string& last = d.bars.back().date;
  fmt::format_to(out, "<svg class=\"price-chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 {} {}\" "
                 "width=\"100%\" preserveAspectRatio=\"xMidYMid meet\" role=\"img\" aria-label=\"日K线图 {} 至 {}\" "
                 "data-price-top=\"{}\" data-price-bottom=\"{}\" data-plot-top=\"{}\" data-plot-bottom=\"{}\" {}>",
                 WIDTH, HEIGHT, html_escape(first), html_escape(last), price_attr(l.scale.top),
                 price_attr(l.scale.bottom), PRICE_TOP, PRICE_BOTTOM, FONT);
  draw_legend(out, d);
  const Grid grid = nice_grid(l.scale.bottom, l.scale.top);
  std::vector<std::string> grid_labels;
  for (const double v : grid.values) grid_labels.push_back(fixed(v, grid.decimals));
  draw_grid(out, l.scale, grid_labels, grid.values);
  fmt::format_to(out, "<line x1=\"{0}\" x2=\"{1}\" y1=\"{2}\" y2=\"{2}\" stroke=\"#ccc\"/>", PLOT_LEFT, PLOT_RIGHT,
                 VOLUME_BOTTOM);
  draw_entry_band(out, d, l);
  draw_candles(out, d, l);
  for (const OverlayStyle& style : OVERLAYS) draw_overlay(out, series_of(d, style.series), style, l);
  draw_volume(out, d, l);
  draw_levels(out, d, l);
  std::vector<std::string> dates;
  std::vector<double> xs;
  for (size_t i = 0; i < d.bars.size(); ++i) dates.push_back(d.bars[i].date), xs.push_back(l.x(i));
  draw_dates(out, dates, xs, PLOT_LEFT, PLOT_RIGHT - LABEL_GUTTER, DATE_BASELINE, 5);
  svg += "</svg>";
  return svg;
}

// ---- cumulative R ----

namespace {

constexpr double R_HEIGHT = 260, R_TOP = 16, R_BOTTOM = 220, R_DATE_BASELINE = 244;

std::string r_text(double v, int decimals) {
  const std::string s = fixed(v, decimals);
  if (std::abs(std::stod(s)) == 0) return "0R";
  return (v > 0 ? "+" : "") + s + "R";
}

}  // namespace

std::string cumulative_r_svg(const std::vector<CumulativePoint>& all_points) {
  std::vector<CumulativePoint> points;
  for (const CumulativePoint& p : all_points) {
    if (std::isfinite(p.cumulative_r)) points.push_back(p);
  }
  if (points.empty()) return empty_svg("r-chart", "暂无成交的买入");
  double lo = 0, hi = 0;  // the zero line is always on the chart
  for (const CumulativePoint& p : points) lo = std::min(lo, p.cumulative_r), hi = std::max(hi, p.cumulative_r);
  const Scale s = padded_scale(lo, hi, 0.08, R_TOP, R_BOTTOM);
  const double step = points.size() > 1 ? (PLOT_RIGHT - PLOT_LEFT) / double(points.size() - 1) : 0;
  std::vector<double> xs;
  std::vector<std::string> dates;
  for (size_t i = 0; i < points.size(); ++i) {
    xs.push_back(points.size() > 1 ? PLOT_LEFT + double(i) * step : (PLOT_LEFT + PLOT_RIGHT) / 2);
    dates.push_back(points[i].date);
  }

  std::string svg;
  auto out = std::back_inserter(svg);
  const double final_r = points.back().cumulative_r;
  fmt::format_to(out, "<svg class=\"r-chart\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 {} {}\" "
                 "width=\"100%\" preserveAspectRatio=\"xMidYMid meet\" role=\"img\" aria-label=\"累计R {}\" "
                 "data-price-top=\"{}\" data-price-bottom=\"{}\" data-plot-top=\"{}\" data-plot-bottom=\"{}\" {}>",
                 WIDTH, R_HEIGHT, r_text(final_r, 2), price_attr(s.top), price_attr(s.bottom), R_TOP, R_BOTTOM, FONT);
  const Grid grid = nice_grid(s.bottom, s.top);
  std::vector<std::string> labels;
  for (const double v : grid.values) labels.push_back(r_text(v, grid.decimals));
  draw_grid(out, s, labels, grid.values);
  fmt::format_to(out, "<line class=\"zero-line\" x1=\"{0}\" x2=\"{1}\" y1=\"{2}\" y2=\"{2}\" stroke=\"#888\" "
                 "stroke-width=\"1\"/>", PLOT_LEFT, PLOT_RIGHT, y_text(s.y(0)));
  std::string line;
  for (size_t i = 0; i < points.size(); ++i) {
    fmt::format_to(std::back_inserter(line), "{}{},{}", i ? " " : "", svg_number(xs[i], 3),
                   y_text(s.y(points[i].cumulative_r)));
  }
  fmt::format_to(out, "<polyline class=\"cumulative-r\" points=\"{}\" fill=\"none\" stroke=\"#1f6fd1\" "
                 "stroke-width=\"1.8\"/>", line);
  if (points.size() == 1) {
    fmt::format_to(out, "<circle cx=\"{}\" cy=\"{}\" r=\"3\" fill=\"#1f6fd1\"/>", svg_number(xs[0], 3),
                   y_text(s.y(final_r)));
  }
  draw_dates(out, dates, xs, PLOT_LEFT, PLOT_RIGHT, R_DATE_BASELINE, points.size() > 1 ? 2 : 1);
  svg += "</svg>";
  return svg;
}

}  // namespace quorvel::pages
