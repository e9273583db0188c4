#include "quorvel/utils/market_indices.h"

#include <cmath>

namespace quorvel {

std::vector<double> _ema(const std::vector<double>& series, int n) {
  std::vector<double> out(series.size(), std::nan(""));
  if (series.empty() || n < 1) return out;
  const double alpha = 2.0 / (double(n) + 1.0);
  double avg = std::nan("");
  for (std::size_t i = 0; i < series.size(); ++i) {
    const double x = series[i];
    if (std::isnan(avg)) {
      avg = x;
    } else if (!std::isnan(x)) {
      avg = alpha * x + (1.0 - alpha) * avg;
    }
    out[i] = avg;
  }
  return out;
}

std::vector<tarnel::MarketIndex> _get_indices_for_market(const std::string& market) {
  using namespace tarnel::indices;
  if (market == "A" || market == "ETF") return {SSE_COMPOSITE, SZSE_COMPONENT, CHINEXT, STAR50, CSI300, CSI500};
  if (market == "HK") return {HANG_SENG, HANG_SENG_TECH};
  if (market == "US") return {SP500, NASDAQ, DOW_JONES};
  return {};
}

}  // namespace quorvel
