#pragma once
// The trading summary written from a validated decision, without asking the model again.
//
// The text is deterministic Markdown in the layout of the summary prompt's output format: a
// "> **LLM**: <model>" line, instrument line, core conclusion, key-price table, holder plan,
// cash-holder plan (buy plan or wait plan), risk notes and the disclaimer. Its core conclusion opens
// with two one-line sections that the trade verdict is read from:
//   "趋势判断"  看涨 for 看多, 看跌 for 看空, 震荡 for 中性 (and for any other direction);
//   "决策建议"  the buy grade for any buy action; for 观望等待 the holder action decides: 分批减仓 /
//               清仓离场 read as a sell, 继续持有 as a wait.
// Each section ends at the next line, whose first word ("决策建议", "置信度") bounds it. Values
// that could move or fake those words (texts outside the legal enumerations, words in names) are
// kept out of the two sections. Pure function; thread-safe.
#include <string>

#include "quorvel/agent/schemas/decision.h"

namespace quorvel::agent::core {

std::string build_summary_markdown_report(const schemas::StockDecision& decision, const std::string& model_name);

// Price text of the summary: three decimals with a trailing zero dropped ("25.95", "1.125"), or
// "-" for zero, negative or non-finite values (a level the decision does not set).
std::string summary_price(double value);

}  // namespace quorvel::agent::core
