#pragma once
// What became of one stored plan, scored on the sessions that followed its analysis day. The rules,
// in this one place:
// - Horizon: N sessions for a holding_period "N个交易日"; any other text ("无", a range, empty)
//   uses DEFAULT_HORIZON sessions and marks the horizon as assumed.
// - A buy (强烈买入 / 建议买入 / 谨慎买入) is filled on the first of the FILL_WINDOW sessions after
//   the analysis day whose low reaches entry_price_high, at the lower of that session's open and
//   entry_price_high; not filled otherwise (outcome "not_filled"). A session that opens at or under
//   the stop fills nothing: a buy is never made under its own stop.
// - After the fill the first event decides: the stop ("stop"; a session touching both the stop and
//   a target counts the stop; a session opening through the stop exits at its open), target 1
//   ("target_1", exit at target 1, or at the open when it opens above it), or the end of the
//   horizon N sessions after the fill session ("horizon", exit at that close). A T+1 instrument
//   cannot exit on its fill session: a stop touched then is left to the next session. The fill
//   session's high may come before the fill, so it counts (target 1, target 2, excursions) only
//   when the fill was at its open. Whether target 2 was reached on the sessions from the fill to
//   the end of the horizon is recorded, whatever the exit.
// - Results: exit date and price, return, R multiple (risk = fill - stop), maximum adverse and
//   favourable excursion in R, sessions held (exit session - fill session). Excursions come from the
//   prices the position lived through: the lows, closes and (as above) highs of the sessions held,
//   and of a session left at the stop or target 1 only its open (not on the fill session) and the
//   exit price, since the bar does not tell what came after the exit.
// - 观望等待 (and what it tells holders): the forward return from the analysis day's close to the
//   close N sessions later, so waiting and reducing are scored too (outcome "forward").
// - Baseline: the same instrument-day entered at the next session's open with the plan's stop and
//   target 1 distances (from entry_price_high) measured in the analysis day's ATR (buys only; none
//   when the bars have no ATR there), walked by the same rules; its R beside the plan's.
// - Not enough sessions yet: "pending" (scored again when bars arrive). A buy is scored only once
//   its horizon (and the baseline's) lies complete in the bars, even after an early exit, so a
//   stored score never changes. A plan that cannot be scored is "not_scorable" with the reason:
//   an action outside the four, missing, zero or non-numeric entry_price_high / stop_loss /
//   target_1, a stop not under entry_price_high or target 1 not above it, an analysis day without
//   a bar, a missing or non-positive price in a session the score reads, or no bar at all after the
//   day while the market had more than FILL_WINDOW + N sessions since (suspended or delisted; fewer
//   is pending, as the instrument's bars may lag the market's). Nothing is ever invented.
//
// Pure; any thread. Bars are the instrument's adjusted daily bars, so a split inside the horizon
// does not read as a move.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"

namespace quorvel::ledger {

inline constexpr int DEFAULT_HORIZON = 10;
inline constexpr int FILL_WINDOW = 3;

struct PlanToScore {
  std::string code;
  std::string date;                 // analysis day "YYYY-MM-DD": the last bar the analysis saw
  nlohmann::ordered_json decision;  // the 23-field decision record as stored
  bool t_plus_one = false;          // the instrument's shares bought today cannot be sold today
  int market_sessions_after = -1;   // sessions of its market after `date` up to the latest known day; -1 unknown
};

struct PlanScore {
  std::string status;   // "scored", "pending", "not_scorable"
  std::string reason;   // why pending or not scorable (Chinese)
  std::string kind;     // "buy" or "forward"
  std::string outcome;  // buy: "stop", "target_1", "horizon", "not_filled"; forward: "forward"
  int horizon = DEFAULT_HORIZON;
  bool horizon_assumed = false;
  std::string fill_date;  // buys that filled
  double fill_price = 0;
  std::string exit_date;  // buys that filled; forward: the close N sessions later
  double exit_price = 0;
  double return_pct = 0;  // exit / fill - 1 (forward: close N later / close of the day - 1), percent
  double r_multiple = 0;  // (exit - fill) / (fill - stop)
  double mae_r = 0;       // most adverse excursion, R (<= 0)
  double mfe_r = 0;       // most favourable excursion, R (>= 0)
  int sessions_held = 0;
  bool target_2_reached = false;
  std::optional<double> baseline_r;  // R of the naive entry on the same day (buys)
  std::string baseline_outcome;
};

// Scores the plan on `bars`: the instrument's daily bars with open, high, low, close and ATR,
// including the analysis day and everything after it that is known.
PlanScore score_plan(const PlanToScore& plan, const tarnel::BarTable& bars);

// The score as stored and published: members in the order of PlanScore; empty texts and the values
// a score does not have (fill and R members of an unfilled buy or a forward score, every measure of a
// pending or unscorable plan, an absent baseline) are null; returns and R rounded to 4 decimals.
nlohmann::ordered_json score_json(const PlanScore& score);

}  // namespace quorvel::ledger
