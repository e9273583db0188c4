#pragma once
// The three setups the pre-screen scores on the last bar. Each score is a sum of named signals, so
// the LLM (and a trader) can check every point against the bars.
#include <string>
#include <vector>

#include "zerith/scan_series.h"

namespace zerith {

struct SetupScore {
  std::string type;                  // "趋势跟随", "底部反转" or "等待突破"
  std::string hint;                  // pre-screen hint: the type, or "均线压缩" / "区间震荡"
  double score = 0.0;                // sum of the signal points
  std::vector<std::string> signals;  // the signals that scored, in rule order
  std::vector<std::string> families; // their distinct evidence families (structure, volume, ...)
  int trigger_age = -1;              // bars since the setup's trigger fired; -1 when it has not
  std::string trigger;               // what the trigger was
};

// Fewest bars the scan needs: EMA60 and the 60-bar swing window must be defined.
inline constexpr std::size_t MIN_SCAN_BARS = 60;

SetupScore score_trend(const ScanSeries& s);
SetupScore score_bottom(const ScanSeries& s);
SetupScore score_breakout(const ScanSeries& s);

// ADX below 20 with the close inside a 20-bar box no wider than 15%: a range market.
bool is_range_market(const ScanSeries& s);

}  // namespace zerith
