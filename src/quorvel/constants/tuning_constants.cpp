// The tuning constants in force. They keep the base confidence score of a decision between 0 and
// 4.5 (trend 1.0 + volume 1.0 + market 1.0 + confluence 0.5 at most) and tighten every limit as the
// market verdict weakens.
#include "contracts/constants.h"

namespace quorvel::constants {

namespace {

TuningConstants make_defaults() {
  TuningConstants c;
  // Minimum pre-screen total score per strategy type; only these types pass the combined screen.
  // The scan scores trend setups 0-9, breakout setups 0-8 and bottom reversals 0-9.5; these levels
  // keep roughly the best fifth of a market (measured on the 5,000-instrument benchmark universe).
  c.STRATEGY_THRESHOLDS = {{"底部反转", 5.0}, {"等待突破", 6.0}, {"趋势跟随", 7.0}};
  c.DEFAULT_STRATEGY_THRESHOLD = 5.0;
  // Bias -> minimum reward/risk, farthest stop in ATR, position tier. 避险 uses the 偏空 entry.
  c.REGIME_PARAMS = {
      {"偏多", {1.2, 1.5, "强势档"}},
      {"震荡", {1.3, 1.8, "中性档"}},
      {"偏空", {1.5, 1.2, "弱势档"}},
  };
  // Position ceilings in percent of the account, per tier; bottom-reversal setups get less.
  c.POSITION_CAPS = {
      {"default", {{"强势档", 30.0}, {"中性档", 20.0}, {"弱势档", 10.0}}},
      {"bottom", {{"强势档", 20.0}, {"中性档", 15.0}, {"弱势档", 10.0}}},
  };
  c.POSITION_CAP_FALLBACK = 10.0;
  c.VOLUME_RATIO_FULL = 1.5;     // volume at least 1.5x the 5-day mean earns the full volume credit
  c.VOLUME_RATIO_PARTIAL = 1.1;  // mildly above average earns half
  c.MARKET_ENV_SCORES = {{"偏多", 1.0}, {"震荡", 0.5}, {"偏空", 0.0}, {"避险", 0.0}};
  c.CONFLUENCE_FULL = 3.0;     // pre-screen priority score for the 0.5 confluence credit
  c.CONFLUENCE_PARTIAL = 2.0;  // and for the 0.3 credit
  return c;
}

}  // namespace

TuningConstants& TuningConstants::default_instance() {
  static TuningConstants constants = make_defaults();
  return constants;
}

}  // namespace quorvel::constants
