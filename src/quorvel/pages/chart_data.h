#pragma once
// The drawing of an analysis page's chart from the instrument's daily bars and the stored plan:
// the last CHART_BARS bars up to the analysis day, EMA20, EMA60 and the 20-day Bollinger bands
// computed over the whole history given (so the first drawn bars have their averages), the plan's
// entry range, stop and targets, and the pre-screen's support and resistance.
#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"
#include "quorvel/pages/price_chart.h"

namespace quorvel::pages {

inline constexpr std::size_t CHART_BARS = 120;

// `bars`: daily bars oldest first (they may run past `date`; later bars are left out).
// `decision`: the 23-field record or null; `levels`: {"support", "resistance"} or null.
PriceChartData chart_data(const tarnel::BarTable& bars, const std::string& date, const nlohmann::ordered_json& decision,
                          const nlohmann::ordered_json& levels, int price_decimals);

}  // namespace quorvel::pages
