#include "quorvel/pages/price_chart.h"

#include <cmath>
#include <limits>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quorvel::pages {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// One start tag of the drawing with its attributes and, for text elements, the content.
struct Element {
  std::string tag;
  std::map<std::string, std::string> attrs;
  std::string text;
  bool has_class(const std::string& name) const {
    auto it = attrs.find("class");
    if (it == attrs.end()) return false;
    return (" " + it->second + " ").find(" " + name + " ") != std::string::npos;
  }
  double num(const std::string& key) const { return std::stod(attrs.at(key)); }
};

std::vector<Element> elements(const std::string& svg) {
  static const std::regex tag_re(R"(<([a-z]+)((?:\s+[a-zA-Z0-9-]+="[^"]*")*)\s*/?>([^<]*))");
  static const std::regex attr_re(R"(([a-zA-Z0-9-]+)="([^"]*)\")");
  std::vector<Element> out;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), tag_re); it != std::sregex_iterator(); ++it) {
    Element e{(*it)[1], {}, (*it)[3]};
    const std::string attrs = (*it)[2];
    for (auto a = std::sregex_iterator(attrs.begin(), attrs.end(), attr_re); a != std::sregex_iterator(); ++a) {
      e.attrs[(*a)[1]] = (*a)[2];
    }
    out.push_back(e);
  }
  return out;
}

std::vector<Element> with_class(const std::string& svg, const std::string& name) {
  std::vector<Element> out;
  for (const Element& e : elements(svg)) {
    if (e.has_class(name)) out.push_back(e);
  }
  return out;
}

// Nesting of start and end tags matches, with one <svg> root around everything.
bool well_formed(const std::string& svg) {
  static const std::regex any_tag(R"(<(/?)([a-z]+)[^>]*?(/?)>)");
  std::vector<std::string> open;
  int roots = 0;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), any_tag); it != std::sregex_iterator(); ++it) {
    const std::string name = (*it)[2];
    if ((*it)[1] == "/") {
      if (open.empty() || open.back() != name) return false;
      open.pop_back();
    } else if ((*it)[3] != "/") {
      if (open.empty()) roots += name == "svg" ? 1 : 100;
      open.push_back(name);
    }
  }
  return open.empty() && roots == 1 && svg.rfind("<svg", 0) == 0 && svg.ends_with("</svg>");
}

bool has_non_number(const std::string& svg) {
  return std::regex_search(svg, std::regex("nan|inf", std::regex::icase));
}

// The price at y through the mapping the root attributes declare.
double price_at(const Element& root, double y) {
  const double p1 = root.num("data-price-top"), p0 = root.num("data-price-bottom");
  const double y1 = root.num("data-plot-top"), y0 = root.num("data-plot-bottom");
  return p1 - (y - y1) / (y0 - y1) * (p1 - p0);
}

std::vector<ChartBar> rising_bars(int n, double start = 10.0) {
  std::vector<ChartBar> bars;
  for (int i = 0; i < n; ++i) {
    const double open = start + 0.05 * i + (i % 3 == 0 ? 0.1 : -0.1);
    const double close = start + 0.05 * i;
    bars.push_back({"2025-03-" + std::string(i + 1 < 10 ? "0" : "") + std::to_string(i + 1), open,
                    std::max(open, close) + 0.08, std::min(open, close) - 0.08, close, 1e6 + 1e4 * i});
  }
  return bars;
}

void expect_near_relative(double actual, double expected) {
  EXPECT_NEAR(actual, expected, 1e-6 * std::abs(expected));
}

TEST(PriceChart, CandlesFollowTheBarsAndMapBackToTheirPrices) {
  struct Row { double open, close; const char* cls; };
  const Row rows[] = {{10, 10.5, "up"}, {10.5, 10.1, "down"}, {10.2, 10.2, "up"}, {10.2, 9.6, "down"}};
  PriceChartData d;
  for (const Row& r : rows) {
    d.bars.push_back({"2025-06-0" + std::to_string(d.bars.size() + 1), r.open, std::max(r.open, r.close) + 0.2,
                      std::min(r.open, r.close) - 0.1, r.close, 5000});
  }
  const std::string svg = price_chart_svg(d);
  ASSERT_TRUE(well_formed(svg));
  const Element root = elements(svg).front();
  const auto candles = with_class(svg, "candle");
  const auto wicks = with_class(svg, "wick");
  const auto bodies = with_class(svg, "body");
  ASSERT_EQ(candles.size(), std::size(rows));
  ASSERT_EQ(wicks.size(), std::size(rows));
  ASSERT_EQ(bodies.size(), std::size(rows));
  EXPECT_EQ(with_class(svg, "volume").size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    const ChartBar& bar = d.bars[i];
    EXPECT_TRUE(candles[i].has_class(rows[i].cls));
    EXPECT_EQ(candles[i].attrs.at("data-date"), bar.date);
    expect_near_relative(price_at(root, wicks[i].num("y1")), bar.high);
    expect_near_relative(price_at(root, wicks[i].num("y2")), bar.low);
    expect_near_relative(price_at(root, bodies[i].num("y")), std::max(bar.open, bar.close));
    EXPECT_GE(bodies[i].num("height"), 1.0);  // a doji keeps a visible body
    if (i > 0) {
      EXPECT_GT(wicks[i].num("x1"), wicks[i - 1].num("x1"));
    }
  }
}

TEST(PriceChart, LevelsMapBackAndTheirLabelsStayApart) {
  PriceChartData d;
  d.bars = rising_bars(30);
  d.levels = {{"stop", "止损", 9.85}, {"support", "支撑", 9.87}, {"target_1", "目标1", 11.6},
              {"resistance", "压力", 11.62}, {"target_2", "目标2", 11.64}};
  d.entry_high = 10.9, d.entry_low = 11.2;  // reversed bounds are swapped
  const std::string svg = price_chart_svg(d);
  const Element root = elements(svg).front();
  const auto lines = with_class(svg, "level");
  const auto labels = with_class(svg, "level-label");
  ASSERT_EQ(lines.size(), d.levels.size());
  ASSERT_EQ(labels.size(), d.levels.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(d.levels[i].key);
    EXPECT_EQ(lines[i].attrs.at("data-level"), d.levels[i].key);
    EXPECT_EQ(lines[i].attrs.count("data-offscale"), 0u);
    EXPECT_EQ(lines[i].attrs.at("y1"), lines[i].attrs.at("y2"));
    expect_near_relative(price_at(root, lines[i].num("y1")), d.levels[i].price);
    EXPECT_NE(labels[i].text.find(d.levels[i].label + " " + lines[i].attrs.at("data-price")), std::string::npos);
    for (size_t j = 0; j < i; ++j) EXPECT_GE(std::abs(labels[i].num("y") - labels[j].num("y")), 11.0);
  }
  const auto band = with_class(svg, "entry-band");
  ASSERT_EQ(band.size(), 1u);
  EXPECT_EQ(band[0].num("data-low"), 10.9);
  EXPECT_EQ(band[0].num("data-high"), 11.2);
  expect_near_relative(price_at(root, band[0].num("y")), 11.2);
  expect_near_relative(price_at(root, band[0].num("y") + band[0].num("height")), 10.9);
}

TEST(PriceChart, DistantLevelIsPinnedToTheEdgeWithoutSquashingTheCandles) {
  struct Row { const char* key; double price; const char* side; bool top_edge; const char* label; };
  const Row rows[] = {{"target_2", 60.0, "above", true, "远端 60.00"}, {"stop", 2.0, "below", false, "远端 2.00"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.key);
    PriceChartData d;
    d.bars = rising_bars(20);  // about 9.8 .. 11.1
    d.levels = {{row.key, "远端", row.price}, {"target_1", "目标1", 11.5}};
    const std::string svg = price_chart_svg(d);
    const Element root = elements(svg).front();
    const auto lines = with_class(svg, "level");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].attrs.at("data-offscale"), row.side);
    EXPECT_EQ(lines[0].num("y1"), root.num(row.top_edge ? "data-plot-top" : "data-plot-bottom"));
    EXPECT_EQ(lines[0].num("data-price"), row.price);
    EXPECT_NE(with_class(svg, "level-label")[0].text.find(row.label), std::string::npos);
    EXPECT_EQ(lines[1].attrs.count("data-offscale"), 0u);
    double top = 1e9, bottom = -1e9;
    for (const Element& w : with_class(svg, "wick")) top = std::min(top, w.num("y1")), bottom = std::max(bottom, w.num("y2"));
    const double plot = root.num("data-plot-bottom") - root.num("data-plot-top");
    EXPECT_GT(bottom - top, 0.7 * plot);
  }
}

TEST(PriceChart, MissingIndicatorValuesLeaveGaps) {
  PriceChartData d;
  d.bars = rising_bars(12);
  d.ema20 = {NaN, NaN, 10.0, 10.05, 10.1, NaN, 10.2, 10.25, 10.3, 10.35, 10.4, 10.45};
  d.boll_upper = std::vector<double>(12, NaN);
  const std::string svg = price_chart_svg(d);
  EXPECT_FALSE(has_non_number(svg));
  const Element root = elements(svg).front();
  std::vector<double> drawn;
  int polylines = 0;
  for (const Element& e : with_class(svg, "overlay")) {
    ASSERT_EQ(e.attrs.at("data-series"), "ema20");  // an all-missing series draws nothing
    ++polylines;
    std::istringstream points(e.attrs.at("points"));
    for (std::string xy; points >> xy;) drawn.push_back(price_at(root, std::stod(xy.substr(xy.find(',') + 1))));
  }
  EXPECT_EQ(polylines, 2);
  const std::vector<double> expected = {10.0, 10.05, 10.1, 10.2, 10.25, 10.3, 10.35, 10.4, 10.45};
  ASSERT_EQ(drawn.size(), expected.size());
  for (size_t i = 0; i < drawn.size(); ++i) expect_near_relative(drawn[i], expected[i]);
}

TEST(PriceChart, OutsideTextIsEscaped) {
  PriceChartData d;
  d.bars = rising_bars(3);
  d.bars[1].date = "2025-03-02\"><script>x</script>";
  d.levels = {{"stop\"", "<script>alert(1)</script>", 10.0}};
  const std::string svg = price_chart_svg(d);
  EXPECT_EQ(svg.find("<script"), std::string::npos);
  EXPECT_NE(svg.find("&lt;script&gt;alert(1)&lt;/script&gt; 10.00"), std::string::npos);
  EXPECT_NE(svg.find("data-level=\"stop&quot;\""), std::string::npos);
  EXPECT_TRUE(well_formed(svg));
}

TEST(PriceChart, DegenerateInputsGiveCleanDrawings) {
  struct Row { const char* name; std::vector<ChartBar> bars; const char* must_contain; };
  const Row rows[] = {
      {"no bars", {}, "无K线数据"},
      {"one flat bar without volume", {{"2025-01-02", 5, 5, 5, 5, 0}}, "class=\"candle up\""},
      {"flat bars", {{"2025-01-02", 5, 5, 5, 5, 100}, {"2025-01-03", 5, 5, 5, 5, 0}}, "class=\"volume\""},
      {"all volumes zero", {{"2025-01-02", 5, 6, 4, 5.5, 0}, {"2025-01-03", 5.5, 6, 5, 5, 0}}, "candle down"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    PriceChartData d;
    d.bars = row.bars;
    d.levels = {{"stop", "止损", 4.5}};
    const std::string svg = price_chart_svg(d);
    EXPECT_TRUE(well_formed(svg));
    EXPECT_FALSE(has_non_number(svg));
    EXPECT_NE(svg.find(row.must_contain), std::string::npos);
    if (row.bars.empty()) continue;
    const Element root = elements(svg).front();
    EXPECT_GT(root.num("data-price-top"), root.num("data-price-bottom"));
    for (const Element& v : with_class(svg, "volume")) EXPECT_GE(v.num("height"), 0.0);
  }
}

TEST(CumulativeRChart, PointsZeroLineAndAxisMapBack) {
  const std::vector<CumulativePoint> points = {{"2025-01-06", 1.0}, {"2025-01-20", -0.5}, {"2025-02-03", 2.5}};
  const std::string svg = cumulative_r_svg(points);
  ASSERT_TRUE(well_formed(svg));
  EXPECT_FALSE(has_non_number(svg));
  const Element root = elements(svg).front();
  EXPECT_TRUE(root.has_class("r-chart"));
  const auto lines = with_class(svg, "cumulative-r");
  ASSERT_EQ(lines.size(), 1u);
  std::istringstream in(lines[0].attrs.at("points"));
  std::vector<double> xs;
  size_t i = 0;
  for (std::string xy; in >> xy; ++i) {
    ASSERT_LT(i, points.size());
    xs.push_back(std::stod(xy.substr(0, xy.find(','))));
    EXPECT_NEAR(price_at(root, std::stod(xy.substr(xy.find(',') + 1))), points[i].cumulative_r, 1e-6);
  }
  ASSERT_EQ(xs.size(), points.size());
  EXPECT_NEAR(xs[1] - xs[0], xs[2] - xs[1], 1e-3);
  EXPECT_GT(xs[1], xs[0]);
  const auto zero = with_class(svg, "zero-line");
  ASSERT_EQ(zero.size(), 1u);
  EXPECT_NEAR(price_at(root, zero[0].num("y1")), 0.0, 1e-6);
  EXPECT_TRUE(std::regex_search(svg, std::regex(">\\+[0-9.]+R<")));
  EXPECT_TRUE(std::regex_search(svg, std::regex(">-[0-9.]+R<")));
  EXPECT_NE(svg.find(">2025-01-06<"), std::string::npos);
  EXPECT_NE(svg.find(">2025-02-03<"), std::string::npos);

  const std::string empty = cumulative_r_svg({});
  EXPECT_TRUE(well_formed(empty));
  EXPECT_NE(empty.find("暂无成交的买入"), std::string::npos);
}

}  // namespace
}  // namespace quorvel::pages
