// Checks on the prompt texts themselves: numbering, thresholds and the pieces that only some
// markets carry.
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "quorvel/agent/prompts/vellumor/sections.h"
#include "quorvel/agent/prompts/vellumor/templates.h"

namespace {

namespace v = quorvel::agent::prompts::vellumor;
using v::Form;
using v::Market;

const Market kMarkets[] = {Market::A, Market::US, Market::HK, Market::ETF};

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> out;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Numbers of the top-level numbered items after `heading`, up to the next heading.
std::vector<int> numbered_items_after(const std::string& text, const std::string& heading) {
  const auto start = text.find(heading);
  if (start == std::string::npos) return {};
  std::vector<int> numbers;
  const std::regex item(R"(^(\d+)\. )");
  for (const std::string& line : lines_of(std::string_view(text).substr(start + heading.size()))) {
    if (line.starts_with("#")) break;
    std::smatch m;
    if (std::regex_search(line, m, item)) numbers.push_back(std::stoi(m[1]));
  }
  return numbers;
}

TEST(Content, NotesAreNumberedOneToSixThenNineToFourteen) {
  const std::vector<int> expected{1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 14};
  for (Market m : kMarkets) {
    for (Form f : {Form::Full, Form::System}) {
      SCOPED_TRACE(std::string(v::market_name(m)) + "/" + std::string(v::form_name(f)));
      EXPECT_EQ(numbered_items_after(v::stock_template(m, f), "## 注意事项\n"), expected);
    }
  }
}

TEST(Content, MarketNotesCarryItemsFiveToEightAndTheCurrency) {
  struct Row {
    std::string_view text;
    const char* currency;
  };
  const Row rows[] = {{v::detail::NOTES_MID_A, "人民币 (CNY)"},
                      {v::detail::NOTES_MID_US, "美元 (USD)"},
                      {v::detail::NOTES_MID_HK, "港币 (HKD)"},
                      {v::detail::NOTES_MID_ETF, "人民币 (CNY)"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.currency);
    EXPECT_EQ(numbered_items_after("\n" + std::string(row.text), "\n"), (std::vector<int>{5, 6, 7, 8}));
    EXPECT_NE(row.text.find(row.currency), std::string_view::npos);
  }
}

// Needles that only some market families carry, with the families that must carry them.
TEST(Content, MarketSpecificPiecesAppearOnlyInTheirMarkets) {
  struct Row {
    const char* needle;
    std::set<Market> markets;
  };
  const Row rows[] = {
      {"**事件窗口检查**（美股专有）", {Market::US}},
      {"**美股特有风险**", {Market::US}},
      {"“开盘 30 分钟后再确认”", {Market::US}},
      {"**流动性分级**（ETF 特有）", {Market::ETF}},
      {"**折溢价分析**", {Market::ETF}},
      {"**ETF 特有风险**", {Market::ETF}},
      {"#### 2.2 量价与流动性验证", {Market::ETF}},
      {"#### 2.1 趋势结构（多周期共振，以二级市场价格为主）", {Market::ETF}},
      {"**跟踪标的关联**", {Market::ETF}},
      {"**T+0 交易节奏指引**（港股特有）", {Market::HK}},
      {"**港股特有风险**", {Market::HK}},
      {"< 1000 万港币", {Market::HK}},
      {"**禁止做空**", {Market::A}},
      {"**【重要】禁止包裹**", {Market::A}},
      {"**A股流动性风险**", {Market::A}},
      {"**支撑位/压力位**", {Market::A}},
      {"**本分析不做空**", {Market::ETF}},
      {"**场景适应**", {Market::ETF}},
      {"#### 2.2 量价验证", {Market::A, Market::US, Market::HK}},
      {"**支撑位**（短期/中期）", {Market::US, Market::HK, Market::ETF}},
  };
  for (const Row& row : rows) {
    for (Market m : kMarkets) {
      SCOPED_TRACE(std::string(row.needle) + " in " + std::string(v::market_name(m)));
      const bool has = v::stock_template(m, Form::Full).find(row.needle) != std::string::npos;
      EXPECT_EQ(has, row.markets.count(m) == 1);
    }
  }
}

TEST(Content, RoleHeadingsPerMarket) {
  const std::pair<Market, const char*> rows[] = {
      {Market::A, "# Role: A股资深技术分析专家 (v3.0 - Logic Shift-Left)\n"},
      {Market::US, "# Role: 美股资深技术分析专家 (v3.0 - Logic Shift-Left)\n"},
      {Market::HK, "# Role: 港股资深技术分析专家 (v3.0 - Logic Shift-Left)\n"},
      {Market::ETF, "# Role: 资深ETF基金研究员与交易专家 (v3.0 - Logic Shift-Left)\n"}};
  for (const auto& [m, heading] : rows) {
    SCOPED_TRACE(heading);
    EXPECT_TRUE(v::stock_template(m, Form::Full).starts_with(heading));
    EXPECT_TRUE(v::stock_template(m, Form::System).starts_with(heading));
  }
}

TEST(Content, AShareHasNoRiskBlockAfterTheStopLossRules) {
  const std::string joined = std::string(v::detail::STOPLOSS_PRICING) + std::string(v::detail::STEP4_TARGETS_RRR);
  EXPECT_NE(v::A_STOCK_PROMPT().find(joined), std::string::npos);
  for (Market m : {Market::US, Market::HK, Market::ETF}) {
    SCOPED_TRACE(v::market_name(m));
    EXPECT_EQ(v::stock_template(m, Form::Full).find(joined), std::string::npos);
  }
}

// Budgets, tier thresholds and caps that every family states word for word.
TEST(Content, EveryPromptStatesTheSharedNumbers) {
  const char* needles[] = {
      "Step 0（标的信息）：≤ 50 字", "Step 1（市场状态诊断）：200-300 字",
      "Step 2（关键证据分析，含 2.0-2.4）：600-900 字", "Step 3（关键点位与风险）：200-300 字",
      "Step 4（目标价与盈亏比）：200-300 字", "Step 5（交易决策，含 5.1/5.2/5.3）：300-400 字",
      "全文合计 1500-2500 字",
      "偏多 → 强势档；震荡 → 中性档；偏空或避险 → 弱势档",
      "（偏多 > 25，震荡 > 22，偏空 > 28）",
      "强势档 2.0 × ATR，中性档 1.8 × ATR，弱势档 1.5 × ATR",
      "偏多 1.5 × ATR，震荡 1.8 × ATR，偏空 1.2 × ATR",
      "Price ≥ VWMA × 0.98 且 vwma_slope = positive", "Price ≥ VWMA × 0.95",
      "Volume_Ratio < 0.7 且连续 ≥ 3 天", "Volume_Ratio > 2.5", "Volume_Ratio > 1.3",
      "**市场 bias=避险仍禁止新开仓**", "`current_price` × [0.92, 1.05]",
      "| ≥ 3.5 | rrr ≥ 1.5 | 高 | 强烈买入 |", "| < 2.5（弱共振模式 < 2.0） | — | 低 | 观望等待 |",
      "**入场价偏离豁免（v5.1）**", "第 ⌊持仓天数 / 2⌋ 个交易日", "第 ⌊持仓天数 × 0.75⌋ 个交易日",
      "偏多 → 看多，偏空 → 看空，震荡 → 中性，避险 → 中性",
      "“数据不足，分析结论置信度强制降为低”", "`RS绝对弱势`（rs_20d < −5%）",
      "### 4. 目标价确定与盈亏比", "#### 5.1 持仓者操作计划（持有该标的）",
      "#### 5.2 持币者操作计划（尚未入场）", "### 5.3 输出前逻辑自洽检查",
      "#### 6.1 字段定义表（权威版本，JSON 取值须严格遵守）",
      "#### 6.2 示例 JSON（**仅为 schema 示例，数值须替换为你分析的真实结果**）",
  };
  for (Market m : kMarkets) {
    const std::string& full = v::stock_template(m, Form::Full);
    for (const char* needle : needles) {
      SCOPED_TRACE(std::string(v::market_name(m)) + ": " + needle);
      EXPECT_NE(full.find(needle), std::string::npos);
    }
  }
}

TEST(Content, WaitPlanLinePerMarket) {
  EXPECT_NE(v::ETF_STOCK_PROMPT().find(v::detail::WAIT_PLAN_ENTRY_TRIGGER), std::string::npos);
  EXPECT_NE(v::A_STOCK_PROMPT().find(v::detail::WAIT_PLAN_KEY_PRICES), std::string::npos);
  EXPECT_NE(v::US_STOCK_PROMPT().find(v::detail::WAIT_PLAN_KEY_PRICES), std::string::npos);
  EXPECT_NE(v::HK_STOCK_PROMPT().find(v::detail::WAIT_PLAN_KEY_LEVELS), std::string::npos);
  EXPECT_EQ(v::HK_STOCK_PROMPT().find(v::detail::WAIT_PLAN_KEY_PRICES), std::string::npos);
}

const std::vector<std::string> kDecisionFields{
    "stock_code",      "stock_name",     "analysis_time",    "current_price",  "direction",
    "action",          "holder_action",  "strategy_mode",    "entry_price_low", "entry_price_high",
    "stop_loss",       "target_1",       "target_2",         "rrr",            "rrr_max",
    "support_price",   "resistance_price", "position_pct",   "holding_period", "confidence",
    "risk_level",      "market_sentiment", "key_watch"};

TEST(Content, FieldTableListsTheDecisionFieldsInOrder) {
  const std::string& full = v::A_STOCK_PROMPT();
  const auto start = full.find("#### 6.1 ");
  const auto end = full.find("#### 6.2 ");
  ASSERT_LT(start, end);
  std::vector<std::string> fields;
  for (const std::string& line : lines_of(std::string_view(full).substr(start, end - start))) {
    if (!line.starts_with("| ") || line.starts_with("| 字段 ")) continue;
    fields.push_back(line.substr(2, line.find(" |") - 2));
  }
  EXPECT_EQ(fields, kDecisionFields);
}

TEST(Content, ExampleKeysFollowTheFieldOrder) {
  std::vector<std::string> keys;
  const std::regex key(R"re(^  "([a-z_0-9]+)": )re");
  for (const std::string& line : lines_of(v::detail::STEP6_EXAMPLE_USER)) {
    std::smatch m;
    if (std::regex_search(line, m, key)) keys.push_back(m[1]);
  }
  EXPECT_EQ(keys, kDecisionFields);
}

TEST(Content, FullPromptShowsFieldTableExampleAndRulesInOrder) {
  for (Market m : kMarkets) {
    SCOPED_TRACE(v::market_name(m));
    const std::string& full = v::stock_template(m, Form::Full);
    const auto table = full.find("#### 6.1 ");
    const auto example = full.find("#### 6.2 ");
    const auto rules = full.find("#### 6.3 输出要求");
    EXPECT_LT(table, example);
    EXPECT_LT(example, rules);
    EXPECT_NE(rules, std::string::npos);
    EXPECT_EQ(v::detail::step6_json_section().find("\n\n\n"), std::string::npos);
  }
}

TEST(Content, SummaryPromptHeadingsInOrder) {
  const char* headings[] = {"# 角色：交易执行专家", "## 任务背景", "## 输入分析报告",
                            "## 约束条件（严格执行）", "## 执行前内部核查（不输出）", "## 输出格式",
                            "###### 📝 标的信息", "###### 💡 核心结论", "###### 🎯 关键价位",
                            "### **持仓者操作计划**", "### **持币者操作计划**", "###### ⚠️ 风险提示",
                            "*免责声明：以上分析由AI生成，仅供参考，不构成任何投资建议。股市有风险，买卖自己定。*"};
  std::size_t last = 0;
  for (const char* h : headings) {
    SCOPED_TRACE(h);
    const auto pos = v::SUMMARY_PROMPT().find(h, last);
    ASSERT_NE(pos, std::string::npos);
    last = pos;
  }
  EXPECT_EQ(numbered_items_after(v::SUMMARY_PROMPT(), "## 约束条件（严格执行）\n"),
            (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

}  // namespace
