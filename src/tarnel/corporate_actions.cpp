#include "tarnel/corporate_actions.h"

#include <cmath>

#include "quorvel/utils/market_type.h"

namespace tarnel {

namespace {

bool is_fund(const std::string& code) { return quorvel::get_market_type(code) == "ETF"; }

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

double limit_band(const std::string& code, Date day) {
  if (is_fund(code)) return 0.10;
  if (starts_with(code, "bj.")) return 0.30;
  if (starts_with(code, "sh.688") || starts_with(code, "sh.689")) return 0.20;
  if (starts_with(code, "sz.30")) return day >= Date{date::year{2020} / 8 / 24} ? 0.20 : 0.10;
  return 0.10;
}

double price_tick(const std::string& code) { return is_fund(code) ? 0.001 : 0.01; }

BarTable adjust_for_corporate_actions(BarTable bars, const std::string& code) {
  if (bars.rows() <= UNBANDED_FIRST_SESSIONS || !bars.has_column("open") || !bars.has_column("close")) return bars;
  const double tick = price_tick(code);
  std::vector<BarTable::Adjustment> found;
  {
    const auto& open = bars.column("open");
    const auto& close = bars.column("close");
    for (std::size_t i = UNBANDED_FIRST_SESSIONS; i < bars.rows(); ++i) {
      const double prev = close[i - 1], o = open[i];
      if (!(prev > 0) || !(o > 0)) continue;
      const double band = limit_band(code, bars.index()[i]);
      if (o > prev * (1 + band) + tick || o < prev * (1 - band) - tick) found.push_back({bars.index()[i], prev / o});
    }
  }
  if (found.empty()) return bars;
  // Each bar is divided by the product of the ratios of the actions after it (newest last).
  std::vector<double> factor(bars.rows(), 1.0);
  for (const auto& a : found)
    for (std::size_t i = 0; i < bars.rows() && bars.index()[i] < a.date; ++i) factor[i] *= a.ratio;
  for (const char* price : {"open", "high", "low", "close"}) {
    if (!bars.has_column(price)) continue;
    auto& values = bars.column(price);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] /= factor[i];
  }
  if (bars.has_column("volume")) {
    auto& volume = bars.column("volume");
    for (std::size_t i = 0; i < volume.size(); ++i) volume[i] *= factor[i];
  }
  bars.set_adjustments(std::move(found));
  return bars;
}

}  // namespace tarnel
