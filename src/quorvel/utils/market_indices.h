#pragma once
// Moving averages and core indices used by the market brief.
#include <string>
#include <vector>

#include "contracts/market_index.h"

namespace quorvel {

// Exponential moving average with alpha = 2 / (n + 1), seeded with the first value and aligned with
// the input (one output per input). NaN inputs carry the previous average forward.
std::vector<double> _ema(const std::vector<double>& series, int n);

// The core indices of a market ("A" and "ETF": 上证指数, 深证成指, 创业板指, 科创50, 沪深300,
// 中证500; "HK": 恒生指数, 恒生科技指数; "US": 标普500, 纳斯达克, 道琼斯); empty for any other text.
std::vector<tarnel::MarketIndex> _get_indices_for_market(const std::string& market);

}  // namespace quorvel
