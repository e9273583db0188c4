#pragma once
// The market bias read out of the market AI brief: the word in brackets after the brief's verdict
// label, e.g. "▋ A 股大盘市场研判 · [偏空 / 中]" gives "偏空". The bias selects the regime of the
// position constraints and is logged. Pure and thread-safe.
#include <string>
#include <string_view>

namespace quorvel::strategy::ai {

// The bias when the brief is empty or carries no verdict.
inline constexpr std::string_view DEFAULT_MARKET_BIAS = "震荡";

// 从大盘 AI 简报中提取 bias。格式: ▋ ...市场研判 · [bias / 强度]
// The first match of 市场研判\s*·\s*\[(偏多|震荡|偏空|避险) anywhere in the text (\s in the Unicode
// sense, · is U+00B7); DEFAULT_MARKET_BIAS when there is none. A brief that is not well-formed
// UTF-8 cannot be searched and also gives the default.
std::string _extract_market_bias(std::string_view brief);

}  // namespace quorvel::strategy::ai
