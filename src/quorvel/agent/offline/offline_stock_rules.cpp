#include "quorvel/agent/offline/offline_stock_rules.h"

#include <cmath>
#include <limits>

#include <fmt/format.h>

namespace quorvel::agent::offline {

namespace {

using Json = nlohmann::ordered_json;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

double number_of(const Json& map, const char* key) {
  const auto it = map.find(key);
  return it != map.end() && it->is_number() ? it->get<double>() : NaN;
}

std::string text_of(const Json& map, const char* key) {
  const auto it = map.find(key);
  if (it == map.end() || it->is_null()) return "";
  return it->is_string() ? it->get<std::string>() : it->dump();
}

// What a zero cap of each rule means for someone about to buy.
std::string zero_cap_meaning(const std::string& rule) {
  if (rule == "risk_off") return "避险日禁止新开仓";
  if (rule == "liquidity") return "成交额过低，流动性不足以建仓";
  if (rule == "max_position_pct") return "档位仓位上限为 0";
  if (rule == "high_vol") return "高波动折算后仓位上限为 0";
  return "该规则不允许建仓";
}

}  // namespace

bool MarketRules::has_band() const { return std::isfinite(limit_up) && std::isfinite(limit_down); }

std::optional<MarketRules> read_market_rules(const Json& pattern) {
  if (!pattern.is_object() || !pattern.contains("trading_rules") || !pattern["trading_rules"].is_object())
    return std::nullopt;
  const Json& t = pattern["trading_rules"];
  MarketRules m{number_of(t, "effective_max_position_pct"),
                {},
                text_of(t, "settlement"),
                number_of(t, "limit_band_pct"),
                number_of(t, "limit_up"),
                number_of(t, "limit_down"),
                text_of(t, "lot"),
                text_of(t, "lot_note"),
                text_of(t, "currency"),
                number_of(t, "avg_turnover_20d"),
                text_of(t, "turnover_basis"),
                text_of(t, "liquidity_tier"),
                number_of(t, "atr"),
                {}};
  if (const auto caps = t.find("position_caps"); caps != t.end() && caps->is_object())
    for (const auto& [rule, cap] : caps->items())
      m.caps.push_back({rule, cap.is_number() ? std::optional<double>(cap.get<double>()) : std::nullopt});
  if (const auto assumed = t.find("assumed"); assumed != t.end() && assumed->is_array())
    for (const auto& a : *assumed)
      if (a.is_string()) m.assumed.push_back(a.get<std::string>());
  return m;
}

std::string zero_cap_reasons(const MarketRules& rules) {
  std::string out;
  for (const auto& c : rules.caps)
    if (c.pct && *c.pct <= 0) out += (out.empty() ? "" : "；") + c.rule + " 0%（" + zero_cap_meaning(c.rule) + "）";
  return out.empty() ? "position_caps 未说明原因" : out;
}

std::string cap_list(const MarketRules& rules) {
  std::string out;
  for (const auto& c : rules.caps)
    out += (out.empty() ? "" : "、") + c.rule + " " + (c.pct ? fmt::format("{}%", *c.pct) : std::string("未知"));
  return out.empty() ? "position_caps 缺失" : out;
}

}  // namespace quorvel::agent::offline
