#pragma once
// The trade verdict read from a trading summary's own sections: the trend section ("趋势判断 ...")
// and the decision section ("决策建议 ..."), each running from its heading word to the nearest
// boundary word after it. A bullish decision counts only when the trend section confirms it without
// any "震荡". Pure and thread-safe.
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "quorvel/indicators/enums.h"

namespace quorvel::strategy::ai {

struct SummaryVerdict {
  indicators::TradeEnum trade_enum = indicators::TradeEnum::WATCH;  // the combined verdict
  indicators::TradeEnum trend_enum = indicators::TradeEnum::WATCH;  // verdict of the trend section
  std::optional<indicators::TradeEnum> decision_enum;               // of the decision section, when found
  std::string trend_text = "未找到趋势判断";
  std::string decision_text;
};

// The text of the section that starts at the first `heading` of `summary` and ends before the
// nearest of `boundaries` found after the heading word; nothing when the heading or every boundary
// is missing. White space (Unicode sense) is stripped at both ends.
std::optional<std::string> summary_section(std::string_view summary, std::string_view heading,
                                           std::initializer_list<std::string_view> boundaries);

// Keyword verdict of a trend section: 看涨/买入 BUY, else 看跌/卖出/震荡偏空/跌 SELL, else WATCH.
indicators::TradeEnum trend_keyword_verdict(std::string_view trend_text);
// Keyword verdict of a decision section: 买入 BUY, else 卖出/清仓/减仓 SELL, else 观望 WATCH, else none.
std::optional<indicators::TradeEnum> decision_keyword_verdict(std::string_view decision_text);

SummaryVerdict summary_verdict(std::string_view summary);

// "BUY", "SELL" or "WATCH".
std::string verdict_name(indicators::TradeEnum verdict);

// The verdict name of a stored trading summary; empty when there is no summary.
std::string stored_verdict(std::string_view summary);

}  // namespace quorvel::strategy::ai
