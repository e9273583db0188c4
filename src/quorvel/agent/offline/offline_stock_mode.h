#pragma once
// The strategy frame of one stock as the prompt's Step 1 derives it: 趋势跟随 needs the four EMAs
// stacked upwards, ADX above the tier's threshold and the VWMA check; 区间震荡 needs ADX < 20;
// 均线压缩 and 底部反转 by their own conditions; a state that fits none is said to be mixed and no
// frame is forced on it (空仓等待). Every reason names the readings it compared. Pure; any thread.
#include "quorvel/agent/offline/offline_stock_plan.h"

namespace quorvel::agent::offline {

// Sets strategy_mode, mode_reason, stage, squeeze_exemption and squeeze_reason of `p`.
void choose_mode(const StockReading& r, TradePlan& p);

}  // namespace quorvel::agent::offline
