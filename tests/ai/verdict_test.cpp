// The trade verdict read from a summary's trend and decision sections.
#include "quorvel/strategy/ai/verdict.h"

#include <gtest/gtest.h>

namespace quorvel::strategy::ai {
namespace {

using indicators::TradeEnum;

TEST(SummaryVerdict, SectionsAndCombination) {
  const struct {
    const char* summary;
    TradeEnum verdict;
    const char* trend_text;
  } rows[] = {
      {"趋势判断：看涨\n决策建议：建议买入\n置信度：中", TradeEnum::BUY, "趋势判断：看涨"},
      {"趋势判断：看涨但震荡\n决策建议：建议买入\n置信度", TradeEnum::WATCH, "趋势判断：看涨但震荡"},
      {"趋势判断：看涨\n决策建议：观望\n置信度", TradeEnum::WATCH, "趋势判断：看涨"},
      {"趋势判断：看涨\n决策建议：分批减仓\n置信度", TradeEnum::SELL, "趋势判断：看涨"},
      {"趋势判断：看跌\n决策建议：清仓\n置信度", TradeEnum::SELL, "趋势判断：看跌"},
      {"趋势判断：看跌\n决策建议：持有\n置信度", TradeEnum::WATCH, "趋势判断：看跌"},  // SELL trend alone: WATCH
      {"趋势判断：看涨，无边界", TradeEnum::WATCH, "未找到趋势判断"},
      {"趋势判断：\u3000看涨 \n核心逻辑：放量", TradeEnum::BUY, "趋势判断：\u3000看涨"},  // no decision section
      {"> **LLM**: m\n\n未能成功提取到决策，建议继续观望。", TradeEnum::WATCH, "未找到趋势判断"},
      {"趋势判断：震荡\n###### 决策建议：建议买入 ###### ", TradeEnum::WATCH, "趋势判断：震荡"},
      {"", TradeEnum::WATCH, "未找到趋势判断"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.summary);
    const SummaryVerdict v = summary_verdict(row.summary);
    EXPECT_EQ(v.trade_enum, row.verdict);
    EXPECT_EQ(v.trend_text, row.trend_text);
  }
}

TEST(SummaryVerdict, NearestBoundaryAfterTheHeadingWord) {
  // "决策建议" before the heading is not a boundary; the nearest one after it wins.
  EXPECT_EQ(summary_section("决策建议 x 趋势判断 看涨 置信度 高 核心逻辑", "趋势判断",
                            {"######", "核心逻辑", "关键点位", "置信度", "决策建议"}),
            "趋势判断 看涨");
  EXPECT_FALSE(summary_section("趋势判断", "趋势判断", {"决策建议"}));
  EXPECT_FALSE(decision_keyword_verdict("决策建议：持有"));
}

}  // namespace
}  // namespace quorvel::strategy::ai
