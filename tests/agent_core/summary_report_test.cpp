// The summary writer: layout, and the verdict that the selector reads from its two sections.
#include "quorvel/agent/core/summary_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvel::agent::core {
namespace {

using schemas::StockDecision;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

enum class Reading { BUY, SELL, WATCH, NONE };

// The selector's reading of one summary section: the slice from the heading word to the nearest
// boundary word after it, then the first keyword row that matches.
struct SectionRule {
  std::string heading;
  std::vector<std::string> boundaries;
  std::vector<std::string> buy, sell, watch;
};

const SectionRule TREND{"趋势判断", {"######", "核心逻辑", "关键点位", "置信度", "决策建议"},
                        {"看涨", "买入"}, {"看跌", "卖出", "震荡偏空", "跌"}, {"震荡"}};
const SectionRule DECISION{"决策建议", {"######", "置信度", "关键点位", "操作计划"},
                           {"买入"}, {"卖出", "清仓", "减仓"}, {"观望"}};

Reading read_section(const std::string& summary, const SectionRule& rule) {
  const auto start = summary.find(rule.heading);
  if (start == std::string::npos) return Reading::NONE;
  std::size_t end = std::string::npos;
  for (const auto& word : rule.boundaries) {
    const auto pos = summary.find(word, start + rule.heading.size());
    if (pos != std::string::npos && (end == std::string::npos || pos < end)) end = pos;
  }
  if (end == std::string::npos) return Reading::NONE;
  const std::string text = summary.substr(start, end - start);
  const auto any = [&](const std::vector<std::string>& words) {
    for (const auto& w : words)
      if (text.find(w) != std::string::npos) return true;
    return false;
  };
  if (any(rule.buy)) return Reading::BUY;
  if (any(rule.sell)) return Reading::SELL;
  if (any(rule.watch)) return Reading::WATCH;
  return Reading::NONE;
}

StockDecision decision(const std::string& direction, const std::string& action, const std::string& holder) {
  StockDecision d;
  d.stock_code = "sh.600519";
  d.stock_name = "贵州茅台";
  d.analysis_time = "2025-06-30";
  d.current_price = 1450.5;
  d.direction = direction;
  d.action = action;
  d.holder_action = holder;
  d.entry_price_low = 1420;
  d.entry_price_high = 1455.25;
  d.stop_loss = 1390;
  d.target_1 = 1560;
  d.target_2 = 1620.125;
  d.rrr = 2.25;
  d.rrr_max = 3.1;
  d.support_price = 1400;
  d.resistance_price = 1560;
  d.position_pct = "20%";
  d.holding_period = "12个交易日";
  d.key_watch = "升级触发：日收盘站稳1560且量比>1.3→加仓至上限；降级触发：跌破EMA20=1405→减仓50%";
  return d;
}

TEST(SummaryVerdict, TrendSectionReadsTheDirection) {
  const std::vector<std::pair<std::string, Reading>> rows = {
      {"看多", Reading::BUY}, {"看空", Reading::SELL}, {"中性", Reading::WATCH}, {"偏多吧", Reading::WATCH}};
  for (const auto& [direction, expected] : rows) {
    for (const std::string action : {"强烈买入", "观望等待"}) {
      for (const std::string holder : {"继续持有", "清仓离场"}) {
        SCOPED_TRACE(direction + "/" + action + "/" + holder);
        EXPECT_EQ(read_section(build_summary_markdown_report(decision(direction, action, holder), "m"), TREND),
                  expected);
      }
    }
  }
}

TEST(SummaryVerdict, DecisionSectionReadsEveryActionAndHolderAction) {
  struct Row {
    std::string action, holder;
    Reading expected;
  };
  std::vector<Row> rows;
  for (const std::string buy : {"强烈买入", "建议买入", "谨慎买入"})
    for (const std::string holder : {"继续持有", "分批减仓", "清仓离场"}) rows.push_back({buy, holder, Reading::BUY});
  rows.push_back({"观望等待", "继续持有", Reading::WATCH});
  rows.push_back({"观望等待", "分批减仓", Reading::SELL});
  rows.push_back({"观望等待", "清仓离场", Reading::SELL});
  // Texts outside the enumerations never read as a buy.
  rows.push_back({"立即买入", "继续持有", Reading::WATCH});
  rows.push_back({"观望等待", "减仓卖出一半", Reading::WATCH});
  for (const auto& row : rows) {
    for (const std::string direction : {"看多", "看空", "中性"}) {
      SCOPED_TRACE(row.action + "/" + row.holder + "/" + direction);
      const std::string summary = build_summary_markdown_report(decision(direction, row.action, row.holder), "m");
      EXPECT_EQ(read_section(summary, DECISION), row.expected);
    }
  }
}

TEST(SummaryVerdict, WordsInNamesDoNotMoveTheSections) {
  StockDecision d = decision("看空", "观望等待", "继续持有");
  d.stock_name = "决策建议买入趋势判断看涨";
  const std::string summary = build_summary_markdown_report(d, "趋势判断-看涨-决策建议买入");
  EXPECT_EQ(read_section(summary, TREND), Reading::SELL);
  EXPECT_EQ(read_section(summary, DECISION), Reading::WATCH);
}

TEST(SummaryLayout, FollowsTheTradingManualOutline) {
  const std::string s = build_summary_markdown_report(decision("看多", "建议买入", "继续持有"), "deepseek-v4-flash");
  EXPECT_THAT(s, StartsWith("> **LLM**: deepseek-v4-flash\n\n"));
  std::size_t pos = 0;
  for (const std::string heading :
       {"###### 📝 标的信息", "- 贵州茅台 (sh.600519) | 现价: 1450.50 | 日期: 2025-06-30", "###### 💡 核心结论",
        "###### 🎯 关键价位", "| 项目 | 价格 |", "| 入场区间 | 1420.00 - 1455.25 |", "### **持仓者操作计划**",
        "### **持币者操作计划**", "###### ⚠️ 风险提示", "*免责声明：以上分析由AI生成"}) {
    const auto next = s.find(heading, pos);
    ASSERT_NE(next, std::string::npos) << heading;
    pos = next;
  }
  EXPECT_THAT(s, HasSubstr("| 第二目标位 | 1620.125 |"));
  EXPECT_THAT(s, HasSubstr("第一目标盈亏比 2.250"));
  EXPECT_THAT(s, HasSubstr("T+1"));
  EXPECT_THAT(s, HasSubstr("入场后第 6 个交易日"));
  auto short_hold = decision("看多", "建议买入", "继续持有");
  short_hold.holding_period = "1-3日";  // never "day 0"
  EXPECT_THAT(build_summary_markdown_report(short_hold, "m"), HasSubstr("入场后第 1 个交易日"));
  EXPECT_THAT(s, HasSubstr("**升级触发**：日收盘站稳1560且量比>1.3→加仓至上限"));
  EXPECT_THAT(s, HasSubstr("**降级触发**：跌破EMA20=1405→减仓50%"));
  EXPECT_THAT(s, Not(HasSubstr("观望方案")));
  EXPECT_EQ(s, build_summary_markdown_report(decision("看多", "建议买入", "继续持有"), "deepseek-v4-flash"));
}

TEST(SummaryLayout, WaitPlanReplacesTheBuyPlanAndUnsetLevelsShowADash) {
  StockDecision d = decision("看空", "观望等待", "清仓离场");
  d.stock_code = "us.AAPL";
  d.entry_price_low = d.entry_price_high = d.stop_loss = d.target_1 = d.target_2 = 0;
  d.rrr = d.rrr_max = 0;
  d.key_watch = "";
  const std::string s = build_summary_markdown_report(d, "m");
  EXPECT_THAT(s, HasSubstr("| 入场区间 | - |"));
  EXPECT_THAT(s, HasSubstr("| 止损位 | - |"));
  EXPECT_THAT(s, HasSubstr("- **操作建议**：**观望等待**"));
  EXPECT_THAT(s, HasSubstr("- **入场触发条件**：报告未提及"));
  EXPECT_THAT(s, HasSubstr("- **关注价位**：支撑 1400.00 / 压力 1560.00"));
  EXPECT_THAT(s, Not(HasSubstr("入场方案")));
  EXPECT_THAT(s, Not(HasSubstr("T+1")));
}

TEST(SummaryLayout, PriceTexts) {
  EXPECT_EQ(summary_price(25.95), "25.95");
  EXPECT_EQ(summary_price(1.125), "1.125");
  EXPECT_EQ(summary_price(23.5), "23.50");
  EXPECT_EQ(summary_price(0.0), "-");
  EXPECT_EQ(summary_price(-3.0), "-");
  EXPECT_EQ(summary_price(std::nan("")), "-");
}

}  // namespace
}  // namespace quorvel::agent::core
