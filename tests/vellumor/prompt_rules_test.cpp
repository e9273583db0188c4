// The stock prompts against the decision record and the market rules: a decision written by
// following the field table is accepted, every market states its own rules and thresholds, and the
// rendered example survives the price text that production puts into it.
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "quorvel/agent/prompts/vellumor/render.h"
#include "quorvel/agent/prompts/vellumor/templates.h"
#include "quorvel/agent/schemas/decision.h"
#include "quorvel/agent/schemas/extract.h"
#include "quorvel/utils/number_text.h"
#include "vellumor/template_values.h"

namespace {

namespace v = quorvel::agent::prompts::vellumor;
namespace schemas = quorvel::agent::schemas;
using Json = nlohmann::ordered_json;
using v::Form;
using v::Market;

struct FieldRow {
  std::string type, values, rule;
};

std::vector<std::string> cells(const std::string& line) {
  std::vector<std::string> out;
  std::size_t pos = 2;
  while (pos < line.size()) {
    const std::size_t end = line.find(" |", pos);
    if (end == std::string::npos) break;
    out.push_back(line.substr(pos, end - pos));
    pos = end + 3;
  }
  return out;
}

// The 6.1 field table of a system template: field -> (type, values, rule).
std::vector<std::pair<std::string, FieldRow>> field_table(const std::string& prompt) {
  const auto start = prompt.find("#### 6.1 "), end = prompt.find("#### 6.3 ");
  std::istringstream in(prompt.substr(start, end - start));
  std::vector<std::pair<std::string, FieldRow>> rows;
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("| ") || line.starts_with("| 字段 ")) continue;
    const auto c = cells(line);
    if (c.size() == 4) rows.push_back({c[0], {c[1], c[2], c[3]}});
  }
  return rows;
}

std::vector<std::string> split_enum(const std::string& values) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos <= values.size()) {
    const std::size_t end = std::min(values.find(" / ", pos), values.size());
    out.push_back(values.substr(pos, end - pos));
    pos = end + 3;
  }
  return out;
}

// A price above `floor` as the table allows it: strictly above when the values column demands
// it for a buy, else equal.
double above(const FieldRow& row, double floor) {
  return row.values.find("任一买入时须 >") != std::string::npos || row.values.starts_with(">") ? floor + 0.001
                                                                                             : floor;
}

TEST(PromptRules, ABuyWrittenFromTheFieldTableIsAccepted) {
  const auto rows = field_table(v::A_STOCK_SYSTEM_TEMPLATE());
  ASSERT_EQ(rows.size(), schemas::DECISION_JSON_FIELDS.size());
  const std::map<std::string, std::vector<std::string>> enums = {
      {"direction", {"看多", "看空", "中性"}},       {"action", {"强烈买入", "建议买入", "谨慎买入", "观望等待"}},
      {"holder_action", {"继续持有", "分批减仓", "清仓离场"}},
      {"strategy_mode", {"趋势跟随", "底部反转", "区间震荡", "空仓等待", "均线压缩"}},
      {"confidence", {"高", "中", "低"}},           {"risk_level", {"高", "中", "低"}},
      {"market_sentiment", {"看多", "看空", "中性"}}};
  // The buy: entry 10.000-10.200, the stop 1.5 ATR under the worst fill, the targets as tight as
  // each row allows.
  Json d = Json::object();
  std::map<std::string, FieldRow> by_name;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& [name, row] = rows[i];
    SCOPED_TRACE(name);
    EXPECT_EQ(name, schemas::DECISION_JSON_FIELDS[i]);
    by_name[name] = row;
    if (row.type == "enum") {
      EXPECT_EQ(split_enum(row.values), enums.at(name));
      const auto& legal = enums.at(name);
      d[name] = name == "action" ? "建议买入" : legal.front();
    }
  }
  d["stock_code"] = "sh.600519";
  d["stock_name"] = "贵州茅台";
  d["analysis_time"] = "2023-02-10";
  d["current_price"] = 10.1;
  d["entry_price_low"] = 10.0;
  d["entry_price_high"] = above(by_name["entry_price_high"], 10.0) + 0.2;
  d["stop_loss"] = 9.7;
  d["target_1"] = 11.0;
  d["target_2"] = above(by_name["target_2"], 11.0);
  d["rrr"] = quorvel::round_half_even((11.0 - d["entry_price_high"].get<double>()) /
                                          (d["entry_price_high"].get<double>() - 9.7), 3);
  d["rrr_max"] = quorvel::round_half_even((d["target_2"].get<double>() - d["entry_price_high"].get<double>()) /
                                              (d["entry_price_high"].get<double>() - 9.7), 3);
  d["support_price"] = 9.8;
  d["resistance_price"] = 11.0;
  EXPECT_EQ(by_name["position_pct"].type, "int");
  d["position_pct"] = 15;
  EXPECT_NE(by_name["holding_period"].values.find("\"N个交易日\""), std::string::npos);
  d["holding_period"] = "8个交易日";
  d["key_watch"] = "升级触发：收盘站上11.00且量比>1.3→加仓；降级触发：跌破9.70→止损离场";
  Json ordered = Json::object();
  for (auto name : schemas::DECISION_JSON_FIELDS) ordered[std::string(name)] = d[std::string(name)];
  const std::string reply = "分析正文……\n```json\n" + ordered.dump(2) + "\n```\n";
  const auto extracted = schemas::extract_decision_json(reply);
  ASSERT_TRUE(extracted.has_value()) << reply;
  const auto record = schemas::StockDecision::from_map(*extracted);
  EXPECT_EQ(record.position_pct, "15%");
  EXPECT_GT(record.target_2, record.target_1);
  // The validator is as strict as the table says: an equal second target is refused.
  Json equal = ordered;
  equal["target_2"] = equal["target_1"];
  EXPECT_FALSE(schemas::extract_decision_json("```json\n" + equal.dump() + "\n```").has_value());
}

TEST(PromptRules, EachMarketCarriesItsRulesBlockAfterTheNotes) {
  struct Row {
    Market market;
    const char* heading;
    std::vector<const char*> needles;
  };
  const Row rows[] = {
      {Market::A, "## 市场规则（A股）",
       {"新开仓位的止损最早在下一交易日执行", "收盘价等于跌停价（封跌停）→ `action` 为“观望等待”", "人民币 (CNY)",
        "主板 ±10%", "科创板（688 开头）±20%", "主板 ST / *ST 股 ±5%", "北交所 ±30%", "100 股（1 手）",
        "科创板（688 开头）买入不少于 200 股", "`trading_rules.limit_up / limit_down`：入场区间须落在其内",
        "T+1 止损缓冲计入 `calculated_constraints.max_stop_dist_atr` 之内", "无法同时满足时 → `action` 为“观望等待”"}},
      {Market::US, "## 市场规则（美股）", {"距财报 ≤ 5 个交易日", "`trading_rules.position_caps.event`", "美元 (USD)"}},
      {Market::HK, "## 市场规则（港股）", {"港股无涨跌幅限制", "`trading_rules.lot`", "港币 (HKD)"}},
      {Market::ETF, "## 市场规则（ETF）",
       {"小规模 ETF 的流动性陷阱", "人民币 (CNY)", "股票类基金 T+1；债券、黄金与跨境基金 T+0", "`trading_rules.settlement`",
        "跟踪创业板或科创板指数的基金 ±20%", "100 份", "`trading_rules.liquidity_tier`"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.heading);
    const std::string& system = v::stock_template(row.market, Form::System);
    const auto at = system.find(row.heading);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(system.find("## 市场规则", at + 1), std::string::npos);
    EXPECT_GT(at, system.find("14. **risk_flags 强制响应**"));
    const std::string block = system.substr(at);
    for (const char* needle : row.needles) EXPECT_NE(block.find(needle), std::string::npos) << needle;
    // The JSON and reward/risk items are stated once, in 6.3 and note 1, not again here.
    EXPECT_EQ(block.find("**JSON 规范**"), std::string::npos);
    EXPECT_EQ(v::stock_template(row.market, Form::Full).find(row.heading) == std::string::npos, false);
  }
}

TEST(PromptRules, EveryMarketStatesItsOwnThresholds) {
  const std::map<Market, std::vector<const char*>> needles = {
      {Market::A, {"**A股流动性风险**"}},
      {Market::US, {"> 3% 的隔夜跳空", "“开盘 30 分钟后再确认”", "距财报 ≤ 5 个交易日，置信度下调一档", "3-5 × ATR"}},
      {Market::HK,
       {"≥ 5000 万港币为流动性充足", "仓位上限 ≤ 20%", "< 1000 万港币属仙股区间，强制 `action=\"观望等待\"`",
        "±10% 时，止损缓冲额外增加 0.5 × ATR", "`holding_period = \"1个交易日\"`"}},
      {Market::ETF,
       {"累计偏离 > 2%", "溢价 > +2%", "折价 < -2%", "|折溢价| ≤ 0.5%", "≥ 1 亿元为流动性充足", "< 2000 万元为流动性差"}},
  };
  for (const auto& [market, list] : needles)
    for (const char* needle : list) {
      SCOPED_TRACE(std::string(v::market_name(market)) + ": " + needle);
      EXPECT_NE(v::stock_template(market, Form::System).find(needle), std::string::npos);
    }
}

TEST(PromptRules, DecisionBlockEntryPriceAndHardLimitsAreStatedOnce) {
  const char* needles[] = {
      "全文只允许出现这一个 ```json 代码块，且位于回答末尾",
      "全文恰好一个 ```json 代码块，即本决策，放在回答末尾",
      "入场价一律取 `entry_price_high`",
      "(`entry_price_high` − `stop_loss`) / ATR）> `calculated_constraints.max_stop_dist_atr`",
      "**硬性否决清单**",
      "③ 市场 bias=避险（禁止新开仓）",
      "⑧ 港股仙股",
      "⑩ `trading_rules.effective_max_position_pct` 为 0",
      "`position_pct` ≤ `trading_rules.effective_max_position_pct`",
      "两处限额不一致时，以更严格者为准",
      "即缺失数据：须写明“数据缺失”及原因，不得自行估算或编造",
      "| target_2 | float | ≥ target_1（任一买入时须 > target_1） |",
  };
  for (Market m : {Market::A, Market::US, Market::HK, Market::ETF}) {
    const std::string& system = v::stock_template(m, Form::System);
    for (const char* needle : needles) {
      SCOPED_TRACE(std::string(v::market_name(m)) + ": " + needle);
      EXPECT_NE(system.find(needle), std::string::npos);
    }
    EXPECT_EQ(system.find("这是唯一不可被任何因素推翻的阈值"), std::string::npos);
  }
}

TEST(PromptRules, RenderedExampleTakesThePriceTextProductionWrites) {
  // The analysis passes the last close as the shortest text of the number: "1810.0", "12", "0.725".
  for (const quorvel::Num price : {quorvel::Num(1810.0), quorvel::Num(12), quorvel::Num(0.725)}) {
    auto values = vellumor_test::stock_values("sh.600519", "贵州茅台", 0.0);
    values["current_price"] = quorvel::number_text(price);
    SCOPED_TRACE(values["current_price"].get<std::string>());
    for (Market m : {Market::A, Market::US, Market::HK, Market::ETF}) {
      const auto decision = schemas::extract_decision_json(v::render(v::stock_template(m, Form::User), values));
      ASSERT_TRUE(decision.has_value());
      EXPECT_DOUBLE_EQ((*decision)["current_price"].get<double>(), price.value());
      EXPECT_EQ((*decision)["rrr"], 0.0);
      EXPECT_EQ(schemas::StockDecision::from_map(*decision).action, "观望等待");
    }
  }
}

}  // namespace
