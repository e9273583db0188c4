#pragma once
// The offline analyst's trading decision: the prompt's own rules applied mechanically to the
// reading of one stock. A buy is given only when every hard constraint holds (reward/risk at least
// min_rrr, stop within max_stop_dist_atr x ATR of the upper entry bound, position within the
// effective position cap, entry range inside the next session's limit prices, stop_loss <
// entry_price_low <= entry_price_high < target_1 < target_2 at the price's own tick) and the
// decision it emits passes the plan checker's hard checks; otherwise the decision is 观望等待 with
// zero reward/risk and position, and the reason is said.
// Pure function; safe on any thread.
#include <optional>
#include <string>
#include <vector>

#include "quorvel/agent/offline/offline_stock_reading.h"

namespace quorvel::agent::offline {

// Prices of the decision: the instrument's decimals, at most three (the decision's precision).
struct PriceGrid {
  int decimals;
  explicit PriceGrid(const StockReading& r);
  double tick() const;
  double round(double v) const;  // half to even
  double floor(double v) const;  // down to the tick
  double ceil(double v) const;   // up to the tick
  std::string text(double v) const;
};

// The levels of a buy setup, computed also when a rule then rejects the buy.
struct BuyCandidate {
  double entry_low = 0, entry_high = 0, stop = 0, target_1 = 0, target_2 = 0, rrr = 0, rrr_max = 0;
  Level defence{0, ""};   // the anchor the stop sits under
  std::string stop_rule;  // which stop-pricing rule gave the stop
  double buffer_atr = 0;  // the least distance, in ATR, of the stop under its anchor
  std::string buffer_reason;
  std::vector<std::string> entry_notes;  // adjustments of the entry range (limit prices)
  Level target_1_level{0, ""}, target_2_level{0, ""};
};

struct TradePlan {
  // Decision fields (prices in the quote currency, rounded to the instrument's tick, at most 3 decimals).
  std::string direction, action = "观望等待", holder_action = "继续持有", strategy_mode, confidence = "低",
                         risk_level = "中", market_sentiment, holding_period = "无", key_watch;
  double entry_low = 0, entry_high = 0, stop_loss = 0, target_1 = 0, target_2 = 0, rrr = 0, rrr_max = 0, support = 0,
         resistance = 0;
  int position_pct = 0;

  // Reasons, for the report.
  std::string mode_reason, stage;
  std::string no_buy_reason;  // the first rule that ruled out a buy; empty for a buy
  bool squeeze_exemption = false;
  std::string squeeze_reason;  // the comparisons that granted or refused the exemption
  std::optional<BuyCandidate> candidate;
  double watch_low = 0, watch_high = 0;  // the setup's entry zone, watched when no buy is given
  std::string candidate_problem;         // why no candidate levels could be set
  bool graded = false;                   // the buy reached the confidence mapping
  double score_rrr = 0, score_total = 0, buy_threshold = 2.5;
  std::vector<std::string> confidence_cuts;  // each lowered the confidence one level
  double position_cap = 0;                   // percent: trading_rules' effective cap, else derived here
  std::string cap_basis;                     // how position_cap was arrived at
  std::string liquidity_note;                // HK and ETF liquidity tier
  std::vector<std::string> exit_signals;     // active exit signals of the strategy mode, for holders
  Level holder_defence{0, ""};
  // The plan checker on the buy as emitted: failed checks, hard first ("仓位上限（硬性）: ...").
  bool checks_run = false;
  std::vector<std::string> failed_checks;
};

TradePlan plan_trade(const StockPromptFacts& facts, const StockReading& reading);

// The reward/risk score ③ added to base_confidence_score.
double rrr_score(double rrr, double rrr_max, double min_rrr);

}  // namespace quorvel::agent::offline
