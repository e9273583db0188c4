#pragma once
// The market rules a plan for one instrument must obey, stated as data beside the pre-computed
// constraints so that the model, the offline analyst and the plan checker read the same numbers:
// the effective position cap (the strictest of every cap the prompt's rules set), settlement, the
// next session's limit prices, the lot, the currency, the 20-day average turnover and the ATR.
// What the data cannot tell is listed as assumed or unknown, never invented.
//
// Member "trading_rules" of pattern_info, in this order:
//   effective_max_position_pct  number: the smallest of position_caps' known caps
//   position_caps     object: rule -> cap in percent, "unknown" when the rule applies but its
//                     input is not available (high_vol: an index state missing or older than
//                     INDEX_STATE_MAX_LAG_SESSIONS sessions). Rules: max_position_pct (always), risk_off (0 on a
//                     避险 day), high_vol (75% of max_position_pct when the index is in high_vol),
//                     liquidity (Hong Kong and funds, by avg_turnover_20d), event (US, unknown:
//                     no event calendar offline)
//   settlement        "T+1" or "T+0"
//   limit_band_pct    number, or null where the market has no band (Hong Kong, US)
//   limit_up, limit_down  the next session's limit prices from the last close, or null (no band,
//                     or fewer than five sessions of data: a new listing trades without one)
//   last_close_at_limit_down  the last session closed at its limit-down price, or null without a band
//   lot               shares per order unit (number), or "unknown"
//   lot_note          how the lot applies (STAR: 200 minimum), when there is something to say
//   currency          "CNY", "HKD" or "USD"
//   avg_turnover_20d  mean daily turnover of the last 20 bars in the quote currency, or null
//   turnover_basis    "amount" or "close×volume" (the market's data has no amount)
//   liquidity_tier    the tier the prompt's table gives that turnover, or null where none applies
//   atr               last daily ATR(14), or null; the unit of stop distances
//   assumed           facts taken as the usual case because the data does not say (texts)
//
// Pure apart from reading the ETF universe file once per process; thread-safe.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"

namespace quorvel::strategy::ai {

// Liquidity tiers of the prompt, in the quote currency (average daily turnover of 20 sessions).
inline constexpr double HK_LIQUID_TURNOVER = 5.0e7;   // >= : sufficient
inline constexpr double HK_PENNY_TURNOVER = 1.0e7;    // <  : penny range, no buy
inline constexpr double HK_WEAK_LIQUIDITY_CAP = 20.0;
inline constexpr double FUND_LIQUID_TURNOVER = 1.0e8;
inline constexpr double FUND_POOR_TURNOVER = 2.0e7;
inline constexpr double FUND_FAIR_LIQUIDITY_CAP = 20.0;
inline constexpr double FUND_POOR_LIQUIDITY_CAP = 10.0;
// Share of the regime's cap kept when the index is in the high-volatility state.
inline constexpr double HIGH_VOL_CAP_SHARE = 0.75;
inline constexpr std::size_t TURNOVER_SESSIONS = 20;
// An index state older than this many sessions says nothing of the analysis day's volatility.
inline constexpr int INDEX_STATE_MAX_LAG_SESSIONS = 5;
// ChiNext (and its index funds) trade within ±20% from this day on, ±10% before.
inline constexpr tarnel::Date CHINEXT_WIDE_BAND_FROM{date::year{2020} / 8 / 24};

struct InstrumentFacts {
  std::string code;         // canonical
  std::string name;         // "ST" in it selects the ST band
  std::string market_type;  // "A", "HK", "US"
  bool fund = false;        // an exchange-traded fund (agent type ETF)
  std::optional<int> lot;   // board lot from the instrument list, when known
};

// The trading_rules member for an instrument whose daily bars (with the ATR column) end on the
// analysis day. `constraints` is calculated_constraints, `pattern_info` supplies
// market_context.vol_regime, `bias` is the market bias.
nlohmann::ordered_json trading_rules(const InstrumentFacts& instrument, const tarnel::BarTable& daily,
                                     const std::string& bias, const nlohmann::ordered_json& constraints,
                                     const nlohmann::ordered_json& pattern_info);

}  // namespace quorvel::strategy::ai
