#include "quorvel/pages/chart_data.h"

#include <cmath>
#include <utility>

#include "quorvel/utils/json_values.h"
#include "quorvel/ta/talib_calls.h"

namespace quorvel::pages {

namespace {

using Json = nlohmann::ordered_json;

std::vector<double> last(const std::vector<double>& series, std::size_t from) {
  return {series.begin() + std::ptrdiff_t(from), series.end()};
}

// A price of the record; nothing when it is missing, zero or not a number.
std::optional<double> price(const Json& record, const char* key) {
  const double v = number_member(record, key);
  return std::isfinite(v) && v > 0 ? std::optional<double>(v) : std::nullopt;
}

}  // namespace

PriceChartData chart_data(const tarnel::BarTable& all, const std::string& date, const Json& decision,
                          const Json& levels, int price_decimals) {
  PriceChartData out;
  out.price_decimals = price_decimals;
  std::size_t end = 0;  // bars up to and including the analysis day
  while (end < all.rows() && all.date_at(end) <= date) ++end;
  if (end > 0) {
    const tarnel::BarTable bars = all.slice(all.index().front(), all.index()[end - 1]);
    const auto& close = bars.column("close");
    const std::size_t from = bars.rows() > CHART_BARS ? bars.rows() - CHART_BARS : 0;
    for (std::size_t i = from; i < bars.rows(); ++i)
      out.bars.push_back({bars.date_at(i), bars.at("open", i), bars.at("high", i), bars.at("low", i), close[i],
                          bars.at("volume", i)});
    out.ema20 = last(quorvel::ta::talib::ema(close, 20), from);
    out.ema60 = last(quorvel::ta::talib::ema(close, 60), from);
    const auto bands = quorvel::ta::talib::bbands(close, 20, 2.0);
    out.boll_upper = last(bands.upper, from);
    out.boll_middle = last(bands.middle, from);
    out.boll_lower = last(bands.lower, from);
  }
  out.entry_low = price(decision, "entry_price_low");
  out.entry_high = price(decision, "entry_price_high");
  const std::pair<const char*, const char*> plan[] = {{"stop_loss", "止损"}, {"target_1", "目标1"}, {"target_2", "目标2"}};
  const char* keys[] = {"stop", "target_1", "target_2"};
  for (std::size_t i = 0; i < std::size(plan); ++i)
    if (auto p = price(decision, plan[i].first)) out.levels.push_back({keys[i], plan[i].second, *p});
  if (auto p = price(levels, "support")) out.levels.push_back({"support", "支撑", *p});
  if (auto p = price(levels, "resistance")) out.levels.push_back({"resistance", "压力", *p});
  return out;
}

}  // namespace quorvel::pages
