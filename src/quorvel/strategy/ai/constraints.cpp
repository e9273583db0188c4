#include "quorvel/strategy/ai/constraints.h"

#include <limits>

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "contracts/constants.h"
#include "contracts/errors.h"
#include "quorvel/utils/number_text.h"

namespace quorvel::strategy::ai {

namespace {

using Json = nlohmann::ordered_json;

const Json* pre_screen_of(const Json& pattern_info) {
  if (!pattern_info.is_object()) return nullptr;
  const auto it = pattern_info.find("pre_screen");
  return it != pattern_info.end() && it->is_object() ? &*it : nullptr;
}

double priority_score(const Json& pattern_info) {
  const Json* pre = pre_screen_of(pattern_info);
  if (!pre) return 0.0;
  const auto it = pre->find("priority_score");
  return it != pre->end() && it->is_number() ? it->get<double>() : 0.0;
}

template <class Map>
const auto& required_entry(const Map& map, const std::string& key, const char* table) {
  const auto it = map.find(key);
  if (it == map.end()) throw RuntimeError(std::string("调优常量 ") + table + " 缺少条目: " + key);
  return it->second;
}

// Last value of a column, NaN when the table is empty or has no such column.
double last_or_nan(const tarnel::BarTable& df, const char* column) {
  return !df.empty() && df.has_column(column) ? df.last(column) : std::numeric_limits<double>::quiet_NaN();
}

// Trend credit of a non-bottom setup: both frames bullish 1.0, only the daily one 0.5.
double trend_credit(const tarnel::BarTable& df, const tarnel::BarTable& weekly_df) {
  if (df.empty() || weekly_df.empty()) return 0.0;
  const bool d_bull = df.last("EMA_5") > df.last("EMA_20");
  const bool w_bull = weekly_df.last("EMA_5") > weekly_df.last("EMA_20");
  if (d_bull && w_bull) return 1.0;
  return d_bull ? 0.5 : 0.0;
}

bool bull_stack(const tarnel::BarTable& df) {
  const double e5 = last_or_nan(df, "EMA_5"), e10 = last_or_nan(df, "EMA_10"), e20 = last_or_nan(df, "EMA_20");
  return e5 > e10 && e10 > e20;
}

}  // namespace

bool is_bottom_hint(const std::string& lowered_hint) {
  return lowered_hint.find("bottom") != std::string::npos || lowered_hint.find("反转") != std::string::npos;
}

std::string lowered_strategy_hint(const Json& pattern_info) {
  const Json* pre = pre_screen_of(pattern_info);
  if (!pre) return "";
  const auto it = pre->find("strategy_hint");
  if (it == pre->end() || !it->is_string()) return "";
  std::string lowered;
  icu::UnicodeString::fromUTF8(it->get<std::string>()).toLower(icu::Locale::getRoot()).toUTF8String(lowered);
  return lowered;
}

Json _calculate_constraints(const std::string& bias, const Json& pattern_info, const tarnel::BarTable& df,
                            const tarnel::BarTable& weekly_df) {
  const constants::TuningConstants& c = constants::tuning();
  const auto params_it = c.REGIME_PARAMS.find(bias);
  const constants::RegimeParams& params =
      params_it != c.REGIME_PARAMS.end() ? params_it->second : required_entry(c.REGIME_PARAMS, "偏空", "REGIME_PARAMS");

  const bool is_bottom = is_bottom_hint(lowered_strategy_hint(pattern_info));
  const auto& pos_caps = required_entry(c.POSITION_CAPS, is_bottom ? "bottom" : "default", "POSITION_CAPS");
  const auto cap_it = pos_caps.find(params.regime);
  const double max_pos = cap_it != pos_caps.end() ? cap_it->second : c.POSITION_CAP_FALLBACK;

  const double vr = !df.empty() && df.has_column("Volume_Ratio") ? df.last("Volume_Ratio") : 1.0;
  // The four credits, kept apart so the result can show how the base score was made up.
  const double trend = is_bottom ? (vr >= c.VOLUME_RATIO_FULL ? 1.0 : 0.5) : trend_credit(df, weekly_df);
  double volume = 0.0;
  if (vr >= c.VOLUME_RATIO_FULL || bull_stack(df)) {
    volume = 1.0;
  } else if (vr >= c.VOLUME_RATIO_PARTIAL) {
    volume = 0.5;
  }
  double market = 0.0;
  if (const auto env = c.MARKET_ENV_SCORES.find(bias); env != c.MARKET_ENV_SCORES.end()) market = env->second;
  const double conf_score = priority_score(pattern_info);
  double confluence = 0.0;
  if (conf_score >= c.CONFLUENCE_FULL) {
    confluence = 0.5;
  } else if (conf_score >= c.CONFLUENCE_PARTIAL) {
    confluence = 0.3;
  }
  const double score = trend + volume + market + confluence;
  // The five members the decision flow relies on come first, in their fixed order; the breakdown
  // the prompt promises follows them.
  return Json{{"min_rrr", params.min_rrr},
              {"max_stop_dist_atr", params.max_stop_dist_atr},
              {"max_position_pct", max_pos},
              {"base_confidence_score", round_half_even(score, 2)},
              {"market_regime", params.regime},
              {"confidence_breakdown",
               {{is_bottom ? "reversal" : "trend", round_half_even(trend, 2)},
                {"volume", round_half_even(volume, 2)},
                {"market_environment", round_half_even(market, 2)},
                {"signal_confluence", round_half_even(confluence, 2)}}}};
}

}  // namespace quorvel::strategy::ai
