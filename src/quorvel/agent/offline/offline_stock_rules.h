#pragma once
// The market rules a stock prompt hands the offline analyst in pattern_info.trading_rules: the
// effective position cap and the caps it is the smallest of, settlement, the next session's limit
// prices, the lot, the liquidity tier and the ATR that stop distances are measured in. Older
// prompts carry none; the analyst then derives what it needs itself. Pure; safe on any thread.
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvel::agent::offline {

// One entry of trading_rules.position_caps; `pct` is empty where the prompt says "unknown".
struct PositionCap {
  std::string rule;  // max_position_pct, risk_off, high_vol, liquidity, event
  std::optional<double> pct;
};

// Prices in the quote currency, caps in percent of the account; NaN marks a null or absent member.
struct MarketRules {
  double effective_cap;
  std::vector<PositionCap> caps;
  std::string settlement;  // "T+1", "T+0" or "" when absent
  double limit_band_pct, limit_up, limit_down;
  std::string lot, lot_note, currency;  // lot as written ("100", "unknown")
  double avg_turnover;
  std::string turnover_basis, liquidity_tier;
  double atr;
  std::vector<std::string> assumed;

  bool has_band() const;
};

// pattern_info.trading_rules; nothing when the member is absent or not an object.
std::optional<MarketRules> read_market_rules(const nlohmann::ordered_json& pattern);

// The caps that stand at zero, with what each means for a buyer: "risk_off 0%（避险日禁止新开仓）".
std::string zero_cap_reasons(const MarketRules& rules);

// "max_position_pct 30%、high_vol 22.5%、event 未知": every cap as the prompt lists it.
std::string cap_list(const MarketRules& rules);

}  // namespace quorvel::agent::offline
