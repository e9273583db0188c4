#include "zerith/sentiment_factors.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "contracts/errors.h"

namespace zerith {

const std::array<const char*, FACTOR_COUNT> FACTOR_KEYS = {"breadth", "momentum", "turnover", "volatility",
                                                           "positioning"};

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::array<double, FACTOR_COUNT> WEIGHTS = {0.25, 0.25, 0.20, 0.10, 0.20};

bool ok(double x) { return std::isfinite(x); }

// Number of the Monday-to-Sunday week holding `d` (1970-01-01 was a Thursday).
long week_of(tarnel::Date d) { return long(std::floor((double(d.time_since_epoch().count()) + 3.0) / 7.0)); }

double mean_of(const std::vector<double>& v, std::size_t first, std::size_t last) {
  double sum = 0;
  int n = 0;
  for (std::size_t i = first; i <= last; ++i)
    if (ok(v[i])) sum += v[i], ++n;
  return n * 2 > int(last - first + 1) ? sum / n : NaN;  // at least half of the window valid
}

double median_of(std::vector<double> v) {
  const std::size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + long(mid), v.end());
  const double upper = v[mid];
  if (v.size() % 2 == 1) return upper;
  return (upper + *std::max_element(v.begin(), v.begin() + long(mid))) / 2.0;
}

std::vector<double> traded_amount(const tarnel::BarTable& bars) {
  const auto& close = bars.column("close");
  const auto& volume = bars.column("volume");
  const bool has_amount = bars.has_column("amount");
  std::vector<double> out(bars.rows(), NaN);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double a = has_amount ? bars.column("amount")[i] : NaN;
    const double fallback = close[i] * volume[i];
    out[i] = ok(a) && a > 0 ? a : (ok(fallback) && fallback > 0 ? fallback : NaN);
  }
  return out;
}

double stdev_of(const std::vector<double>& x) {
  if (x.size() < 2) return NaN;
  double m = 0;
  for (double v : x) m += v;
  m /= double(x.size());
  double ss = 0;
  for (double v : x) ss += (v - m) * (v - m);
  return std::sqrt(ss / double(x.size() - 1));
}

}  // namespace

SentimentParams sentiment_params(const std::string& freq) {
  if (freq == "D") return SentimentParams{};
  if (freq == "W") {
    return SentimentParams{.ma = 20, .momentum = 12, .turnover_short = 4, .turnover_long = 26, .volatility = 12,
                           .position = 52, .history = 156, .min_history = 52, .direction_lookback = 2,
                           .direction_threshold = 5.0, .min_names = 3};
  }
  throw quorvel::ValueError("情绪温度计 freq 只能是 \"D\"（日线）或 \"W\"（周线），收到: \"" + freq + "\"");
}

tarnel::BarTable repair_price_jumps(const tarnel::BarTable& daily, double max_move) {
  tarnel::BarTable out = daily;
  if (out.rows() < 2) return out;
  auto& close = out.column("close");
  const auto& open = out.column("open");
  for (std::size_t i = 1; i < out.rows(); ++i) {
    const double prev = close[i - 1];
    if (!(prev > 0) || !(close[i] > 0)) continue;
    if (std::abs(close[i] / prev - 1.0) <= max_move) continue;
    const double gap = open[i] > 0 ? open[i] / prev : NaN;
    const double factor = ok(gap) && std::abs(gap - 1.0) > max_move ? gap : close[i] / prev;
    for (const char* name : {"open", "high", "low", "close"}) {
      auto& col = out.column(name);
      for (std::size_t j = 0; j < i; ++j) col[j] *= factor;
    }
    auto& volume = out.column("volume");
    for (std::size_t j = 0; j < i; ++j) volume[j] /= factor;
  }
  return out;
}

EtfFeatures compute_etf_features(const tarnel::BarTable& bars, const SentimentParams& p) {
  const std::size_t n = bars.rows();
  EtfFeatures f{std::vector<double>(n, NaN), std::vector<double>(n, NaN), std::vector<double>(n, NaN),
                std::vector<double>(n, NaN), std::vector<double>(n, NaN)};
  const auto& close = bars.column("close");
  const auto& high = bars.column("high");
  const auto& low = bars.column("low");
  const std::vector<double> amount = traded_amount(bars);
  std::vector<double> log_ret(n, NaN);
  for (std::size_t i = 1; i < n; ++i)
    if (close[i] > 0 && close[i - 1] > 0) log_ret[i] = std::log(close[i] / close[i - 1]);

  for (std::size_t t = 0; t < n; ++t) {
    if (!(close[t] > 0)) continue;
    if (t + 1 >= std::size_t(p.ma)) {
      const double sma = mean_of(close, t + 1 - std::size_t(p.ma), t);
      if (ok(sma)) f.above_ma[t] = close[t] > sma ? 1.0 : 0.0;
    }
    if (t >= std::size_t(p.momentum) && close[t - std::size_t(p.momentum)] > 0)
      f.momentum[t] = close[t] / close[t - std::size_t(p.momentum)] - 1.0;
    if (t + 1 >= std::size_t(p.turnover_long)) {
      const double s = mean_of(amount, t + 1 - std::size_t(p.turnover_short), t);
      const double l = mean_of(amount, t + 1 - std::size_t(p.turnover_long), t);
      if (s > 0 && l > 0) f.turnover[t] = std::log(s / l);
    }
    if (t >= std::size_t(p.volatility)) {
      std::vector<double> window;
      for (std::size_t i = t + 1 - std::size_t(p.volatility); i <= t; ++i)
        if (ok(log_ret[i])) window.push_back(log_ret[i]);
      if (window.size() * 2 > std::size_t(p.volatility)) f.volatility[t] = stdev_of(window);
    }
    if (t + 1 >= std::size_t(p.position)) {
      double hi = -std::numeric_limits<double>::infinity(), lo = std::numeric_limits<double>::infinity();
      for (std::size_t i = t + 1 - std::size_t(p.position); i <= t; ++i) {
        if (ok(high[i])) hi = std::max(hi, high[i]);
        if (ok(low[i])) lo = std::min(lo, low[i]);
      }
      if (hi > lo) f.position[t] = std::clamp((close[t] - lo) / (hi - lo), 0.0, 1.0);
    }
  }
  return f;
}

FactorSeries build_factor_series(const std::vector<tarnel::BarTable>& etf_bars, const SentimentParams& p,
                                 bool weekly) {
  struct Point {
    tarnel::Date last{};
    int names = 0;
    std::array<std::vector<double>, FACTOR_COUNT> values;
  };
  std::map<long, Point> points;
  for (const tarnel::BarTable& bars : etf_bars) {
    const EtfFeatures f = compute_etf_features(bars, p);
    const std::array<const std::vector<double>*, FACTOR_COUNT> columns = {&f.above_ma, &f.momentum, &f.turnover,
                                                                          &f.volatility, &f.position};
    for (std::size_t row = 0; row < bars.rows(); ++row) {
      const tarnel::Date d = bars.index()[row];
      Point& point = points[weekly ? week_of(d) : long(d.time_since_epoch().count())];
      point.last = std::max(point.last, d);
      if (ok(f.above_ma[row])) ++point.names;
      for (std::size_t k = 0; k < FACTOR_COUNT; ++k)
        if (ok((*columns[k])[row])) point.values[k].push_back((*columns[k])[row]);
    }
  }
  FactorSeries s;
  for (const auto& [key, point] : points) {
    s.dates.push_back(point.last);
    s.names.push_back(point.names);
    for (std::size_t k = 0; k < FACTOR_COUNT; ++k) {
      const auto& v = point.values[k];
      double value = NaN;
      if (v.size() >= std::size_t(p.min_names)) {
        if (k == BREADTH) {
          double sum = 0;
          for (double x : v) sum += x;
          value = sum / double(v.size());
        } else {
          value = median_of(v);
        }
      }
      s.values[k].push_back(value);
    }
  }
  return s;
}

double percentile_rank(const std::vector<double>& series, std::size_t at, int window, int min_valid) {
  if (at >= series.size() || !ok(series[at]) || window < 1) return NaN;
  const std::size_t first = at + 1 >= std::size_t(window) ? at + 1 - std::size_t(window) : 0;
  const double x = series[at];
  int valid = 0;
  double below = 0;
  for (std::size_t i = first; i <= at; ++i) {
    if (!ok(series[i])) continue;
    ++valid;
    if (series[i] < x) below += 1.0;
    else if (series[i] == x) below += 0.5;
  }
  if (valid < min_valid) return NaN;
  return below / valid * 100.0;
}

std::array<double, FACTOR_COUNT> temperature_inputs(const std::array<double, FACTOR_COUNT>& pct) {
  std::array<double, FACTOR_COUNT> in = pct;
  in[VOLATILITY] = 50.0 + (pct[VOLATILITY] - 50.0) * (pct[MOMENTUM] - 50.0) / 50.0;
  return in;
}

double compose_temperature(const std::array<double, FACTOR_COUNT>& pct) {
  const auto in = temperature_inputs(pct);
  double t = 0;
  for (std::size_t k = 0; k < FACTOR_COUNT; ++k) t += WEIGHTS[k] * in[k];
  return std::clamp(t, 0.0, 100.0);
}

std::optional<TemperatureReading> temperature_at(const FactorSeries& s, std::size_t at, const SentimentParams& p) {
  if (at >= s.size()) return std::nullopt;
  TemperatureReading r;
  int min_valid_count = p.history;
  for (std::size_t k = 0; k < FACTOR_COUNT; ++k) {
    r.percentiles[k] = percentile_rank(s.values[k], at, p.history, p.min_history);
    if (!ok(r.percentiles[k])) return std::nullopt;
    const std::size_t first = at + 1 >= std::size_t(p.history) ? at + 1 - std::size_t(p.history) : 0;
    const auto valid = std::count_if(s.values[k].begin() + long(first), s.values[k].begin() + long(at) + 1, ok);
    min_valid_count = std::min(min_valid_count, int(valid));
  }
  r.temperature = compose_temperature(r.percentiles);
  const auto in = temperature_inputs(r.percentiles);
  double m = 0, ss = 0;
  for (double x : in) m += x / double(FACTOR_COUNT);
  for (double x : in) ss += (x - m) * (x - m) / double(FACTOR_COUNT);
  r.agreement = std::clamp(1.0 - std::sqrt(ss) / 50.0, 0.0, 1.0);
  r.depth = std::min(1.0, double(min_valid_count) / double(p.history));
  return r;
}

std::string sentiment_state(double t) {
  if (!ok(t)) throw quorvel::ValueError("情绪温度必须是 0-100 的有限数值");
  if (t <= 15.0) return "ICE_COLD";
  if (t <= 35.0) return "COLD";
  if (t < 65.0) return "NEUTRAL";
  if (t < 85.0) return "HOT";
  return "OVERHEAT";
}

std::string sentiment_direction(double change, double threshold) {
  if (change >= threshold) return "warming";
  if (change <= -threshold) return "cooling";
  return "flat";
}

double sentiment_confidence(int n_etf, double agreement, double depth) {
  if (n_etf <= 0) return 0.0;
  const double sample = double(n_etf) / double(n_etf + 5);
  return std::clamp(sample * (0.4 + 0.6 * agreement) * (0.5 + 0.5 * depth), 0.0, 1.0);
}

}  // namespace zerith
