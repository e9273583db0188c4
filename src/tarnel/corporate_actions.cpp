#include "tarnel/corporate_actions.h"

#include <cmath>

#include "quorvel/utils/price_limits.h"

namespace tarnel {

using quorvel::price_tick;
using quorvel::UNBANDED_FIRST_SESSIONS;

BarTable adjust_for_corporate_actions(BarTable bars, const std::string& code) {
  if (bars.rows() <= UNBANDED_FIRST_SESSIONS || !bars.has_column("open") || !bars.has_column("close")) return bars;
  const quorvel::LimitBandRule band_rule(code);
  const double tick = price_tick(code);
  std::vector<BarTable::Adjustment> found;
  {
    const auto& open = bars.column("open");
    const auto& close = bars.column("close");
    for (std::size_t i = UNBANDED_FIRST_SESSIONS; i < bars.rows(); ++i) {
      const double prev = close[i - 1], o = open[i];
      if (!(prev > 0) || !(o > 0)) continue;
      const double band = band_rule.at(bars.index()[i]);
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
