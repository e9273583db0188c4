#include "quorvel/agent/offline/offline_stock_reading.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "quorvel/utils/price_decimals.h"

namespace quorvel::agent::offline {

namespace {

using Json = nlohmann::ordered_json;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Lowest / highest finite value of the column over the last n rows; NaN when there is none.
double extreme(const tarnel::BarTable& t, const char* name, std::size_t n, bool highest) {
  if (!t.has_column(name)) return NaN;
  const auto& v = t.column(name);
  double out = NaN;
  for (std::size_t i = v.size() - std::min(n, v.size()); i < v.size(); ++i)
    if (std::isfinite(v[i]) && (std::isnan(out) || (highest ? v[i] > out : v[i] < out))) out = v[i];
  return out;
}

// The member at `path`; nullptr when a step is missing or the value is null.
const Json* at_path(const Json& j, std::initializer_list<const char*> path) {
  const Json* cur = &j;
  for (const char* key : path) {
    if (!cur->is_object() || !cur->contains(key)) return nullptr;
    cur = &(*cur)[key];
  }
  return cur->is_null() ? nullptr : cur;
}

std::optional<double> number_at(const Json& j, std::initializer_list<const char*> path) {
  const Json* v = at_path(j, path);
  if (!v || !v->is_number()) return std::nullopt;
  return v->get<double>();
}

// The first member named `key` anywhere in the tree (depth first), for members whose nesting
// differs between versions of the pattern service.
const Json* find_key(const Json& j, const std::string& key) {
  if (j.is_object()) {
    if (j.contains(key) && !j[key].is_null()) return &j[key];
    for (const auto& [k, v] : j.items())
      if (const Json* hit = find_key(v, key)) return hit;
  }
  return nullptr;
}

// Records a missing input once; a member whose parent is already recorded is covered by it.
void add_missing(StockReading& r, const std::string& name, const std::string& reason = "") {
  const std::string parent = name.substr(0, name.find('.'));
  for (const auto& m : r.missing) {
    const std::string listed = m.substr(0, m.find("（"));
    if (listed == name || listed == parent) return;
  }
  r.missing.push_back(reason.empty() ? name : name + "（" + reason + "）");
}

// Null members of pattern_info, top level and one level down, each with the reason the pattern
// service gives in a sibling "<name>_reason" member.
void note_null_members(const Json& pattern, StockReading& r, const std::string& prefix = "", int depth = 0) {
  if (!pattern.is_object() || depth > 1) return;
  for (const auto& [key, value] : pattern.items()) {
    // trading_rules writes null for a rule that does not apply (no band, no liquidity tier).
    if (key.ends_with("_reason") || (depth == 0 && key == "trading_rules" && value.is_object())) continue;
    if (value.is_null()) {
      const Json* reason = at_path(pattern, {(key + "_reason").c_str()});
      add_missing(r, prefix + key, reason && reason->is_string() ? reason->get<std::string>() : "");
    } else if (value.is_object()) {
      note_null_members(value, r, prefix + key + ".", depth + 1);
    }
  }
}

// The price_context member when it is a positive number, else the fallback computed from the bars
// (the member is then recorded as missing).
Level level_or(const Json& pattern, const char* member, double fallback, const std::string& fallback_source,
               StockReading& r) {
  if (auto v = number_at(pattern, {"price_context", member}); v && *v > 0)
    return {*v, std::string("price_context.") + member};
  r.levels_from_pattern = false;
  add_missing(r, std::string("price_context.") + member);
  return {fallback, fallback_source};
}

void read_levels(const StockPromptFacts& f, StockReading& r) {
  const auto& d = f.daily;
  const double low20 = extreme(d, "low", 20, false), high20 = extreme(d, "high", 20, true);
  r.levels_from_pattern = true;
  r.support = level_or(f.pattern, "support", std::fmin(low20, r.ema20), "日线计算（20日最低价与EMA20的较低者）", r);
  r.resistance =
      level_or(f.pattern, "resistance", std::fmax(high20, r.upper_band), "日线计算（20日最高价与布林上轨的较高者）", r);
  r.low_5d = level_or(f.pattern, "low_5d", extreme(d, "close", 5, false), "日线计算（近5日最低收盘价）", r);

  std::vector<Level> targets{{r.resistance.price, r.resistance.source},
                             {r.upper_band, "布林上轨"},
                             {high20, "20日最高价"},
                             {extreme(d, "high", 60, true), "60日最高价"}};
  for (const auto& [set, name] :
       {std::pair{"classic_pivot_points", "经典枢轴"}, {"fibonacci_pivot_points", "斐波那契枢轴"}}) {
    if (!at_path(f.pattern, {set})) {
      add_missing(r, set);
      continue;
    }
    for (const char* key : {"R1", "R2", "R3"})
      if (auto v = number_at(f.pattern, {set, key})) targets.push_back({*v, std::string(name) + " " + key});
    for (const char* key : {"S1", "S2", "S3"})
      if (auto v = number_at(f.pattern, {set, key})) r.pivot_supports.push_back({*v, std::string(name) + " " + key});
  }
  std::erase_if(targets, [](const Level& l) { return !(l.price > 0); });
  std::stable_sort(targets.begin(), targets.end(), [](const Level& a, const Level& b) { return a.price < b.price; });
  r.target_levels = std::move(targets);
  std::stable_sort(r.pivot_supports.begin(), r.pivot_supports.end(),
                   [](const Level& a, const Level& b) { return a.price > b.price; });
}

void read_pattern(const StockPromptFacts& f, StockReading& r) {
  const Json& p = f.pattern;
  if (const Json* flags = at_path(p, {"risk_flags"}); flags && flags->is_array()) {
    r.risk_flags.emplace();
    for (const auto& flag : *flags)
      if (flag.is_string()) r.risk_flags->push_back(flag.get<std::string>());
  } else {
    add_missing(r, "risk_flags");
  }
  if (const Json* v = at_path(p, {"market_context", "vol_regime"}); v && v->is_string())
    r.vol_regime = v->get<std::string>();
  else
    add_missing(r, "market_context.vol_regime");
  r.rs_20d = pattern_number(p, "rs_20d");
  if (const Json* v = at_path(p, {"trend_structure", "vwma_slope"}); v && v->is_string())
    r.vwma_slope = v->get<std::string>();
  else
    add_missing(r, "trend_structure.vwma_slope");
  if (const Json* v = at_path(p, {"pre_screen", "strategy_hint"});
      v && v->is_string() && !v->get<std::string>().empty())
    r.strategy_hint = v->get<std::string>();
  else if (const Json* t = at_path(p, {"strategy_type"}); t && t->is_string())
    r.strategy_hint = t->get<std::string>();

  const auto min_rrr = number_at(p, {"calculated_constraints", "min_rrr"});
  const auto stop = number_at(p, {"calculated_constraints", "max_stop_dist_atr"});
  const auto pos = number_at(p, {"calculated_constraints", "max_position_pct"});
  const auto base = number_at(p, {"calculated_constraints", "base_confidence_score"});
  if (min_rrr && stop && pos && base) {
    const Json* regime = at_path(p, {"calculated_constraints", "market_regime"});
    r.constraints =
        Constraints{*min_rrr, *stop, *pos, *base, regime && regime->is_string() ? regime->get<std::string>() : ""};
  } else {
    add_missing(r, "calculated_constraints");
  }
}

void read_tier(const std::string& bias, StockReading& r) {
  if (bias == "偏多") {
    r.tier = "强势档", r.adx_threshold = 25, r.deviation_cap = 2.0, r.stop_cap_by_tier = 1.5;
  } else if (bias == "震荡") {
    r.tier = "中性档", r.adx_threshold = 22, r.deviation_cap = 1.8, r.stop_cap_by_tier = 1.8;
  } else {
    r.tier = "弱势档", r.adx_threshold = 28, r.deviation_cap = 1.5, r.stop_cap_by_tier = 1.2;
  }
}

void read_bar_health(const tarnel::BarTable& d, StockReading& r) {
  r.suspect_data = !(r.close > 0);
  if (d.rows() >= 3 && d.has_column("volume")) {
    bool same = true;
    for (const char* c : {"open", "high", "low", "close", "volume"})
      same = same && last_value(d, c, 0) == last_value(d, c, 1) && last_value(d, c, 1) == last_value(d, c, 2);
    r.suspect_data = r.suspect_data || same;
  }
  for (std::size_t i = 1; i < d.rows(); ++i) {
    const double a = d.column("close")[i - 1], b = d.column("close")[i];
    if (a > 0 && std::isfinite(b)) r.max_abs_move_pct = std::max(r.max_abs_move_pct, std::fabs(b / a - 1) * 100);
  }
  double sum = 0;
  std::size_t n = 0;
  for (std::size_t back = 0; back < 20 && d.has_column("volume"); ++back) {
    const double v = last_value(d, "close", back) * last_value(d, "volume", back);
    if (std::isfinite(v)) sum += v, ++n;
  }
  r.turnover_20d = r.rules && std::isfinite(r.rules->avg_turnover) ? r.rules->avg_turnover : n ? sum / double(n) : NaN;
  for (std::size_t back = 0;
       std::isfinite(last_value(d, "Volume_Ratio", back)) && last_value(d, "Volume_Ratio", back) < 0.7; ++back)
    ++r.quiet_volume_days;
}

// The stack of the EMAs over all four lines; over EMA5/10/20 only when EMA60 is missing.
void read_alignment(StockReading& r) {
  std::vector<double> lines{r.ema5, r.ema10, r.ema20};
  r.alignment_lines = "EMA5/10/20";
  if (std::isfinite(r.ema60)) lines.push_back(r.ema60), r.alignment_lines = "EMA5/10/20/60";
  bool up = true, down = true;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    up = up && lines[i - 1] > lines[i];
    down = down && lines[i - 1] < lines[i];
  }
  r.alignment = up ? "多头排列" : down ? "空头排列" : "交织";
}

void read_indicators(const StockPromptFacts& f, StockReading& r) {
  const auto& d = f.daily;
  r.close = last_value(d, "close"), r.prev_close = last_value(d, "close", 1);
  r.price = std::isfinite(f.current_price) && f.current_price > 0 ? f.current_price : r.close;
  r.atr = last_value(d, "ATR"), r.ema5 = last_value(d, "EMA_5"), r.ema10 = last_value(d, "EMA_10");
  r.ema20 = last_value(d, "EMA_20"), r.ema60 = last_value(d, "EMA_60"), r.vwma = last_value(d, "VWMA");
  r.adx = last_value(d, "ADX"), r.adx_3d_ago = last_value(d, "ADX", 3), r.rsi = last_value(d, "RSI"),
  r.rsi6 = last_value(d, "RSI_6");
  r.macd = last_value(d, "MACD"), r.macd_signal = last_value(d, "MACD_signal"),
  r.macd_hist = last_value(d, "MACD_hist");
  r.k = last_value(d, "K"), r.d = last_value(d, "D"), r.j = last_value(d, "J"),
  r.volume_ratio = last_value(d, "Volume_Ratio");
  r.mfi = last_value(d, "MFI"), r.sar = last_value(d, "SAR"), r.upper_band = last_value(d, "upper_band");
  r.lower_band = last_value(d, "lower_band"), r.obv = last_value(d, "OBV"), r.obv_10d_ago = last_value(d, "OBV", 10);
  r.close_10d_ago = last_value(d, "close", 10), r.close_5d_ago = last_value(d, "close", 5);
  r.atr_low_20d = extreme(d, "ATR", 20, false);
  for (std::size_t back : {3, 2, 1, 0}) r.macd_hist_last4.push_back(last_value(d, "MACD_hist", back));
  r.low_60d = extreme(d, "low", 60, false), r.high_60d = extreme(d, "high", 60, true);
  r.week_ema5 = last_value(f.weekly, "EMA_5"), r.week_ema20 = last_value(f.weekly, "EMA_20");
  r.week_close = last_value(f.weekly, "close");
  read_alignment(r);
  for (const char* name : {"ATR", "EMA_20", "VWMA", "ADX", "RSI", "MACD_hist"})
    if (std::isnan(last_value(d, name))) r.missing.push_back(std::string("日线 ") + name);
}

}  // namespace

double last_value(const tarnel::BarTable& t, const char* name, std::size_t back) {
  if (!t.has_column(name) || t.rows() <= back) return NaN;
  return t.column(name)[t.rows() - 1 - back];
}

std::string price_text(double v, int decimals) {
  return std::isfinite(v) ? fmt::format("{:.{}f}", v, decimals) : std::string("—");
}

bool has_flag(const StockReading& r, const std::string& flag) {
  return r.risk_flags && std::find(r.risk_flags->begin(), r.risk_flags->end(), flag) != r.risk_flags->end();
}

std::optional<double> pattern_number(const Json& pattern, const std::string& key) {
  const Json* v = find_key(pattern, key);
  if (!v || !v->is_number()) return std::nullopt;
  return v->get<double>();
}

StockReading read_stock(const StockPromptFacts& f) {
  StockReading r;
  r.daily_rows = f.daily.rows();
  r.weekly_rows = f.weekly.rows();
  r.decimals = quorvel::price_decimals(f.daily);
  if (r.daily_rows == 0) r.missing.push_back("日线数据");
  if (r.weekly_rows == 0) r.missing.push_back("周线数据");
  if (!f.pattern_readable) r.missing.push_back("pattern_info");
  note_null_members(f.pattern, r);
  r.rules = read_market_rules(f.pattern);
  r.t_plus_1 = r.rules && !r.rules->settlement.empty() ? r.rules->settlement == "T+1" : f.market == "A";
  read_indicators(f, r);
  if (r.rules && r.rules->atr > 0) r.atr = r.rules->atr;
  r.dist_ema20_atr = (r.close - r.ema20) / r.atr;
  read_bar_health(f.daily, r);
  read_tier(f.bias, r);
  read_pattern(f, r);
  read_levels(f, r);
  return r;
}

}  // namespace quorvel::agent::offline
