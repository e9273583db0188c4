#pragma once
// Performance of one market index on its last bar, and the market verdict computed from the core
// indices. The verdict is decided here, not by the LLM, which only words it.
#include <optional>
#include <string>
#include <vector>

#include "contracts/bar_table.h"

namespace quorvel::agent::solvara {

// One index's record. A full record carries every field; a record of an index with too little data
// carries `valid` false with the "—"/"数据不足" texts; a record of an index that failed carries
// only `valid` false (`failed` true). Percentages are in percent.
struct IndexPerformance {
  bool valid = false;
  bool failed = false;
  std::string pct = "—";          // day change, sign shown, two decimals, "%"
  std::string ratio = "—";        // volume ratio, two decimals
  std::string trend = "数据不足";  // EMA alignment label
  std::string ma_fact = "数据不足";
  double pct_val = 0, ratio_val = 0, close = 0, ema5 = 0, ema20 = 0, ema60 = 0;
  bool ema_bull = false, ema_bear = false;
  double amp_today = 0, amp_avg20 = 0;

  static IndexPerformance too_little_data() { return {}; }
  static IndexPerformance failure() {
    IndexPerformance p;
    p.failed = true;
    return p;
  }
};

struct MarketVerdict {
  std::string bias;      // 避险 / 偏空 / 偏多 / 震荡
  std::string strength;  // 强 / 中 / 弱
  std::string strategy;  // 空仓等待 / 区间震荡 / 趋势跟随
  std::string rationale;
  bool operator==(const MarketVerdict&) const = default;
};

namespace detail {
// Strategy for every (bias, strength).
const std::string& STRATEGY_TABLE(const std::string& bias, const std::string& strength);
}  // namespace detail

// Performance of the index whose daily bars (oldest first) are `df`; absent or shorter than two
// rows gives the too-little-data record. A table without "close" or "volume" raises.
IndexPerformance _calculate_index_performance(const std::optional<tarnel::BarTable>& df);

// The verdict of the core indices, the market's first index first.
MarketVerdict _compute_market_verdict(const std::vector<IndexPerformance>& perfs);

// "+1.23%": percent with the sign always shown and two decimals.
std::string signed_percent(double value);

}  // namespace quorvel::agent::solvara
