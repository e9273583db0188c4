#pragma once
// A holder's exit signals, by strategy frame, as the prompt's self-check lists them:
//   趋势跟随  EMA5 below EMA10 with volume ratio > 1.3; ADX falling below 20; MACD dead cross with
//             the histogram down three days running
//   底部反转  a close under the low of the reversal candle; 60-day percentile <= 0.15
//   区间震荡  a close under the range floor with volume ratio > 1.3; Bollinger bands opening downward
// Frames without a list of their own (空仓等待, 均线压缩) watch a close under the support.
// Each active signal is returned as a sentence with the numbers that fired it. Pure; any thread.
#include <string>
#include <vector>

#include "quorvel/agent/offline/offline_stock_reading.h"

namespace quorvel::agent::offline {

std::vector<std::string> active_exit_signals(const StockPromptFacts& f, const StockReading& r,
                                             const std::string& strategy_mode);

// "EMA5 下穿 EMA10 且量比 > 1.3；ADX 跌破 20；MACD 死叉且柱状图连续 3 日下降": the signals the frame watches.
std::string watched_exit_signals(const std::string& strategy_mode);

}  // namespace quorvel::agent::offline
