#include "quorvel/strategy/ai/verdict.h"

#include "quorvel/utils/utf8_text.h"

namespace quorvel::strategy::ai {

namespace {

using indicators::TradeEnum;

bool contains(std::string_view text, std::string_view word) { return text.find(word) != std::string_view::npos; }

bool contains_any(std::string_view text, std::initializer_list<std::string_view> words) {
  for (std::string_view w : words)
    if (contains(text, w)) return true;
  return false;
}

}  // namespace

std::optional<std::string> summary_section(std::string_view summary, std::string_view heading,
                                           std::initializer_list<std::string_view> boundaries) {
  // Byte offsets of UTF-8 text: a match of a whole UTF-8 word always starts on a character, and the
  // search for boundaries starts right after the heading word, i.e. its length in characters later.
  const std::size_t start = summary.find(heading);
  if (start == std::string_view::npos) return std::nullopt;
  std::size_t end = std::string_view::npos;
  for (std::string_view word : boundaries) {
    const std::size_t pos = summary.find(word, start + heading.size());
    if (pos != std::string_view::npos && (end == std::string_view::npos || pos < end)) end = pos;
  }
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(quorvel::trim_unicode_space(summary.substr(start, end - start)));
}

TradeEnum trend_keyword_verdict(std::string_view trend_text) {
  if (contains_any(trend_text, {"看涨", "买入"})) return TradeEnum::BUY;
  if (contains_any(trend_text, {"看跌", "卖出", "震荡偏空", "跌"})) return TradeEnum::SELL;
  return TradeEnum::WATCH;
}

std::optional<TradeEnum> decision_keyword_verdict(std::string_view decision_text) {
  if (contains(decision_text, "买入")) return TradeEnum::BUY;
  if (contains_any(decision_text, {"卖出", "清仓", "减仓"})) return TradeEnum::SELL;
  if (contains(decision_text, "观望")) return TradeEnum::WATCH;
  return std::nullopt;
}

SummaryVerdict summary_verdict(std::string_view summary) {
  SummaryVerdict v;
  if (auto trend = summary_section(summary, "趋势判断", {"######", "核心逻辑", "关键点位", "置信度", "决策建议"})) {
    v.trend_text = std::move(*trend);
    v.trend_enum = trend_keyword_verdict(v.trend_text);
  }
  if (auto decision = summary_section(summary, "决策建议", {"######", "置信度", "关键点位", "操作计划"})) {
    v.decision_text = std::move(*decision);
    v.decision_enum = decision_keyword_verdict(v.decision_text);
  }
  if (!v.decision_enum) {
    v.trade_enum = v.trend_enum == TradeEnum::BUY ? TradeEnum::BUY : TradeEnum::WATCH;
  } else if (*v.decision_enum == TradeEnum::BUY && (v.trend_enum != TradeEnum::BUY || contains(v.trend_text, "震荡"))) {
    v.trade_enum = TradeEnum::WATCH;
  } else {
    v.trade_enum = *v.decision_enum;
  }
  return v;
}

std::string verdict_name(indicators::TradeEnum verdict) {
  switch (verdict) {
    case indicators::TradeEnum::BUY: return "BUY";
    case indicators::TradeEnum::SELL: return "SELL";
    case indicators::TradeEnum::WATCH: return "WATCH";
  }
  return "";
}

std::string stored_verdict(std::string_view summary) {
  return summary.empty() ? "" : verdict_name(summary_verdict(summary).trade_enum);
}

}  // namespace quorvel::strategy::ai
