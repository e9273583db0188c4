#include "quorvel/strategy/radar/opportunity_radar_selector.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/indicators/status_computation.h"
#include "quorvel/strategy/radar/default_frequency.h"
#include "quorvel/utils/json_text.h"
#include "quorvel/utils/json_values.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/number_text.h"
#include "quorvel/utils/outside_text.h"

namespace quorvel::strategy::radar {

namespace {

using Json = nlohmann::ordered_json;

const char* py_bool(bool b) { return b ? "True" : "False"; }

// The option when it is given: present and not null.
const Json* given(const Json& options, const char* key) {
  const auto it = options.find(key);
  return it != options.end() && !it->is_null() ? &*it : nullptr;
}

std::optional<std::string> text_option(const Json& options, const char* key, const std::optional<std::string>& field) {
  const Json* v = given(options, key);
  if (!v) return field;
  if (!v->is_string()) throw TypeError(fmt::format("选项 {} 必须是文本，实际为 {}", key, v->type_name()));
  return v->get<std::string>();
}

std::optional<double> number_option(const Json& options, const char* key, const std::optional<double>& field) {
  const Json* v = given(options, key);
  if (!v) return field;
  if (!v->is_number()) throw TypeError(fmt::format("选项 {} 必须是数值，实际为 {}", key, v->type_name()));
  return v->get<double>();
}

double float_option(const Json& options, const char* key, double field) {
  const Json* v = given(options, key);
  return v ? to_float(*v, key) : field;
}

// The members of the radar evaluation that the rules read, converted, with their defaults.
struct Evaluation {
  double tech_score = 0.0;
  bool is_opportunity = false, is_vol_abnormal = false, is_risk = false, has_buy_signal = false,
       has_sell_signal = false;
  std::string curr_state_cn, prev_state_cn;
  double vol_ratio = 1.0, change_pct = 0.0, amount_ea = 0.0;
};

Evaluation read_evaluation(const Json& item) {
  if (!item.is_object()) throw TypeError(std::string("机会雷达评估结果必须是映射，实际为 ") + item.type_name());
  auto real = [&](const char* key, double fallback) {
    const auto it = item.find(key);
    return it == item.end() ? fallback : to_float(*it, key);
  };
  auto flag = [&](const char* key) { return item.contains(key) && truthy(item[key]); };
  auto text = [&](const char* key) { return item.contains(key) ? to_text(item[key]) : std::string(); };
  Evaluation e;
  e.tech_score = real("tech_score", 0.0);
  e.is_opportunity = flag("is_opportunity");
  e.is_vol_abnormal = flag("is_vol_abnormal");
  e.is_risk = flag("is_risk");
  e.has_buy_signal = flag("has_buy_signal");
  e.has_sell_signal = flag("has_sell_signal");
  e.curr_state_cn = text("curr_state_cn");
  e.prev_state_cn = text("prev_state_cn");
  e.vol_ratio = real("vol_ratio", 1.0);
  e.change_pct = real("change_pct", 0.0);
  e.amount_ea = real("amount_ea", 0.0);
  return e;
}

// The mapping stored under `key`; an empty one when it is missing, null or empty.
Json mapping_or_empty(const Json& parent, const char* key) {
  const auto it = parent.find(key);
  if (it == parent.end() || !truthy(*it)) return Json::object();
  if (!it->is_object()) throw TypeError(fmt::format("{} 必须是映射，实际为 {}", key, it->type_name()));
  return *it;
}

// The pre-screen's strategy hint, else its strategy type.
std::string hint_of(const Json& pre_screen) {
  const Json nested = mapping_or_empty(pre_screen, "pre_screen");
  const std::string hint = nested.contains("strategy_hint") ? to_text(nested["strategy_hint"]) : "";
  if (!hint.empty()) return hint;
  return pre_screen.contains("strategy_type") ? to_text(pre_screen["strategy_type"]) : "";
}

std::string strategy_type_of(const Evaluation& e, const std::string& hint) {
  if (e.is_vol_abnormal && !e.is_opportunity) return RADAR_ANOMALY_TYPE;
  for (const char* accepted : {"趋势跟随", "底部反转", "区间震荡", "均线压缩"})
    if (hint == accepted) return hint;
  return e.curr_state_cn.empty() ? RADAR_FALLBACK_TYPE : e.curr_state_cn;
}

// A close more than 1% below the open of the last bar; never without a positive open.
bool solid_bear_candle(const tarnel::BarTable& df) {
  const double last_open = df.has_column("open") && !df.empty() ? df.last("open") : 0.0;
  const double last_close = df.has_column("close") && !df.empty() ? df.last("close") : 0.0;
  return last_open > 0.0 && (last_close - last_open) / last_open < -0.01;
}

bool bearish(const Evaluation& e, const tarnel::BarTable& df) {
  return e.change_pct < 0 || solid_bear_candle(df) || (e.curr_state_cn == LEFT_SIDE_DECLINE && !e.has_buy_signal) ||
         e.is_risk || e.has_sell_signal;
}

// The rule chain; the first rule that decides wins. The candidate rule ignores risk and bearishness.
bool eligible(const OpportunityRadarSelector& c, const Evaluation& e, bool is_bearish, double min_score) {
  const bool candidate = (e.is_opportunity && c.allow_opportunity) ||
                         (e.is_vol_abnormal && c.allow_abnormal && e.change_pct >= 0) || e.has_buy_signal;
  if (!candidate) return false;
  if (c.reject_risk && (e.has_sell_signal || e.is_risk)) return false;
  if (c.reject_bearish && is_bearish) return false;
  return e.tech_score >= min_score;
}

void log_outcome(const std::string& code, const std::string& freq, const Evaluation& e, const SelectorCheckResult& r,
                 bool is_bearish) {
  if (r.passed)
    logger.info(
        code + " 通过机会雷达初筛 (频段: " + freq + ", 状态: " + e.curr_state_cn + ", 策略: " + r.strategy_type +
        fmt::format(", 评分: {:.1f}, 放量: {:.2f}x, 涨跌幅: {:.2f}%)", e.tech_score, e.vol_ratio, e.change_pct));
  else
    logger.debug(code + " 未通过机会雷达初筛 (频段: " + freq + fmt::format(", tech_score={:.1f}", e.tech_score) +
                 ", is_opp=" + py_bool(e.is_opportunity) + ", is_vol=" + py_bool(e.is_vol_abnormal) +
                 ", is_risk=" + py_bool(e.is_risk) + ", is_bearish=" + py_bool(is_bearish) + ")");
}

Json pattern_info(const Json& pre_screen, const Evaluation& e, const std::string& freq) {
  Json info = pre_screen;
  info["radar"] = Json{{"curr_state_cn", e.curr_state_cn},
                       {"prev_state_cn", e.prev_state_cn},
                       {"vol_ratio", e.vol_ratio},
                       {"change_pct", e.change_pct},
                       {"amount_ea", e.amount_ea},
                       {"is_vol_abnormal", e.is_vol_abnormal},
                       {"is_opportunity", e.is_opportunity},
                       {"is_risk", e.is_risk},
                       {"has_buy_signal", e.has_buy_signal},
                       {"has_sell_signal", e.has_sell_signal},
                       {"frequency", freq}};
  return info;
}

}  // namespace

OpportunityRadarSelector::OpportunityRadarSelector(const RadarConfig& c)
    : frequency(c.frequency),
      min_score(c.min_score),
      min_amount_ea(c.min_amount_ea),
      min_vol_ratio(c.min_vol_ratio),
      min_pct_change(c.min_pct_change),
      weekly_mode(c.weekly_mode),
      allow_opportunity(c.allow_opportunity),
      allow_abnormal(c.allow_abnormal),
      reject_risk(c.reject_risk),
      reject_bearish(c.reject_bearish) {
  const std::string shown = frequency && !frequency->empty() ? *frequency : "auto(周五周频/平日日频)";
  logger.info("OpportunityRadarSelector 初始化完成 (frequency=" + shown + ", min_score=" + number_text(min_score) +
              ", reject_bearish=" + py_bool(reject_bearish) + ")");
}

SelectorCheckResult OpportunityRadarSelector::check(const std::string& code, const std::string& start_date,
                                                    const std::string& end_date, const Json& options) {
  if (!options.is_object()) throw TypeError("check() 的额外参数必须是具名参数 (JSON 对象)");
  tarnel::BarTable df = tarnel::get_any_ohlc(code, start_date, end_date);
  if (df.empty()) {
    logger.warning("股票 " + code + " 没有数据");
    SelectorCheckResult none;
    none.df = std::move(df);
    none.strategy_type = RADAR_NO_DATA_TAG;
    return none;
  }
  SelectorCheckResult r;
  r.stock_status = indicators::get_stock_status(df, code);

  std::string freq = text_option(options, "frequency", frequency).value_or("");
  if (freq.empty())
    freq = end_date.empty() ? get_default_frequency(df.index().back()) : get_default_frequency(end_date);
  const zerith::RadarThresholds thresholds{freq, number_option(options, "min_amount_ea", min_amount_ea),
                                           float_option(options, "min_vol_ratio", min_vol_ratio),
                                           float_option(options, "min_pct_change", min_pct_change),
                                           text_option(options, "weekly_mode", weekly_mode)};
  const double min_score_now = float_option(options, "min_score", min_score);
  const std::string name = text_option(options, "name", std::string()).value_or("");
  const Json item = zerith::pattern_service().evaluate_opportunity_radar_item(df, code, name, thresholds);
  const Evaluation e = read_evaluation(item);

  const bool is_bearish = bearish(e, df);
  r.passed = eligible(*this, e, is_bearish, min_score_now);
  const Json pre_screen = mapping_or_empty(item, "pre_screen_res");
  r.strategy_type = strategy_type_of(e, hint_of(pre_screen));
  r.pattern_info_str = safe_json_dumps(pattern_info(pre_screen, e, freq), false);
  r.score = e.tech_score;
  log_outcome(code, freq, e, r, is_bearish);
  r.df = std::move(df);
  return r;
}

Json OpportunityRadarSelector::analyze_pool(const zerith::RadarPool& pool, const PoolOptions& options) {
  std::string freq = options.frequency.value_or("");
  if (freq.empty()) {
    if (options.target_date && !options.target_date->empty()) {
      freq = get_default_frequency(*options.target_date);
    } else {
      std::optional<tarnel::Date> newest;
      for (const auto& [code, named_bars] : pool)
        if (!named_bars.second.empty())
          newest = std::max(newest.value_or(named_bars.second.index().back()), named_bars.second.index().back());
      freq = newest ? get_default_frequency(*newest) : get_default_frequency();
    }
  }
  const zerith::RadarThresholds thresholds{freq, options.min_amount_ea, options.min_vol_ratio, options.min_pct_change,
                                           options.weekly_mode};
  Json result = zerith::pattern_service().analyze_opportunity_radar(pool, thresholds);
  // Failures quote the pool's codes and the data sources' messages, which callers print as they are.
  if (const auto errors = result.find("errors"); errors != result.end() && errors->is_array())
    for (Json& error : *errors)
      for (const char* key : {"code", "error"})
        if (error.contains(key) && error[key].is_string()) error[key] = outside_text(error[key].get<std::string>());
  return result;
}

}  // namespace quorvel::strategy::radar
