#include "zerith/engine_common.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "quorvel/utils/number_text.h"

namespace zerith::engine {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char* BASE[] = {"open", "high", "low", "close", "volume"};
// Bars of the flat-market check.
constexpr std::size_t FLAT_SPAN = 20;

Prepared idle(Prepared p, const char* state, std::string reason) {
  p.event.state = state;
  p.event.reason = std::move(reason);
  return p;
}

// Finite prices above zero and a finite, non-negative volume.
bool complete_row(const tarnel::BarTable& df, std::size_t row) {
  for (const char* name : BASE) {
    const double v = df.column(name)[row];
    const bool is_volume = name == BASE[4];
    if (!std::isfinite(v) || v < 0 || (!is_volume && v == 0)) return false;
  }
  return true;
}

Bars copy_rows(const tarnel::BarTable& df, std::size_t from) {
  const auto tail = [&](const char* name) {
    const auto& c = df.column(name);
    return Series(c.begin() + long(from), c.end());
  };
  return Bars{tail("open"), tail("high"), tail("low"), tail("close"), tail("volume")};
}

std::string short_history_reason(std::size_t run, std::size_t rows, std::size_t needed) {
  if (run == 0) return "最新一根K线的开高低收或成交量缺失，无法判断。";
  if (run < rows)
    return fmt::format("最近连续完整的K线只有 {} 根（更早的K线有缺失值），少于本策略所需的 {} 根，无法判断。", run,
                       needed);
  return fmt::format("仅有 {} 根K线，少于本策略所需的 {} 根，无法判断。", rows, needed);
}

}  // namespace

Prepared prepare(const tarnel::BarTable& df, const EngineSpec& rules) {
  Prepared p;
  p.event.strategy_name = rules.name;
  if (df.empty()) return idle(std::move(p), "数据不足", "没有K线数据，无法判断。");
  p.event.date = df.last_date();
  for (const char* name : BASE)
    if (!df.has_column(name)) return idle(std::move(p), "数据不足", fmt::format("K线表缺少 {} 列，无法判断。", name));

  const std::size_t rows = df.rows();
  std::size_t run = 0;
  while (run < std::min(rows, WINDOW) && complete_row(df, rows - 1 - run)) ++run;
  if (run < rules.min_bars) return idle(std::move(p), "数据不足", short_history_reason(run, rows, rules.min_bars));

  Bars bars = copy_rows(df, rows - run);
  const std::size_t t = bars.last();
  if (bars.volume[t] <= 0) return idle(std::move(p), "观望", "最新一根K线成交量为 0（停牌或无成交），不发出信号。");
  const std::size_t from = t + 1 - FLAT_SPAN;
  if (highest(bars.high, from, t) <= lowest(bars.low, from, t))
    return idle(std::move(p), "观望", fmt::format("最近 {} 根K线价格没有任何波动，不发出信号。", FLAT_SPAN));
  p.bars = std::move(bars);
  return p;
}

double highest(const Series& x, std::size_t from, std::size_t to) {
  return *std::max_element(x.begin() + long(from), x.begin() + long(to) + 1);
}

double lowest(const Series& x, std::size_t from, std::size_t to) {
  return *std::min_element(x.begin() + long(from), x.begin() + long(to) + 1);
}

double mean(const Series& x, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t k = from; k <= to; ++k) sum += x[k];
  return sum / double(to - from + 1);
}

std::size_t lowest_row(const Series& x, std::size_t from, std::size_t to) {
  return std::size_t(std::min_element(x.begin() + long(from), x.begin() + long(to) + 1) - x.begin());
}

bool crossed_above(const Series& a, const Series& b, std::size_t i) { return a[i] > b[i] && a[i - 1] <= b[i - 1]; }

bool crossed_below(const Series& a, const Series& b, std::size_t i) { return a[i] < b[i] && a[i - 1] >= b[i - 1]; }

double volume_ratio(const Series& volume, std::size_t i, std::size_t window) {
  const double m = mean(volume, i - window, i - 1);
  return m > 0 ? volume[i] / m : NaN;
}

double efficiency_ratio(const Series& close, std::size_t i, std::size_t n) {
  double path = 0;
  for (std::size_t k = i + 1 - n; k <= i; ++k) path += std::fabs(close[k] - close[k - 1]);
  return path > 0 ? std::fabs(close[i] - close[i - n]) / path : 0.0;
}

double round3(double x) { return quorvel::round_half_even(x, 3); }

Json num3(double x) { return num(x, 3); }

std::string f3(double x) { return fmt::format("{:.3f}", x); }
std::string f2(double x) { return fmt::format("{:.2f}", x); }
std::string f1(double x) { return fmt::format("{:.1f}", x); }

LongReference long_reference(double close, double stop) {
  if (!(stop < close) || !std::isfinite(stop)) return {NaN, NaN};
  return {round3(stop), round3(close + 2.0 * (close - stop))};
}

}  // namespace zerith::engine
