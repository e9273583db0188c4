#include "quorvel/agent/prompts/vellumor/templates.h"

#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "quorvel/agent/prompts/vellumor/render.h"
#include "quorvel/agent/prompts/vellumor/sections.h"
#include "vellumor/template_values.h"

namespace {

namespace v = quorvel::agent::prompts::vellumor;
using v::Form;
using v::Market;

const Market kMarkets[] = {Market::A, Market::US, Market::HK, Market::ETF};

const v::detail::MarketPieces& pieces(Market m) {
  switch (m) {
    case Market::A: return v::detail::A_PIECES;
    case Market::US: return v::detail::US_PIECES;
    case Market::HK: return v::detail::HK_PIECES;
    case Market::ETF: return v::detail::ETF_PIECES;
  }
  return v::detail::A_PIECES;
}

const std::vector<std::string> kStockPlaceholders{
    "stock_code", "stock_name",      "analysis_time", "current_price",  "pct_change",
    "stock_data", "stock_week_data", "pattern_info",  "market_ai_brief"};

std::size_t count(const std::string& text, std::string_view needle) {
  std::size_t n = 0;
  for (auto pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + needle.size())) ++n;
  return n;
}

// The body of the first ```json fence of `text`.
std::string json_fence(const std::string& text) {
  const auto start = text.find("```json\n");
  if (start == std::string::npos) return "";
  const auto body = start + 8;
  const auto end = text.find("\n```", body);
  return end == std::string::npos ? "" : text.substr(body, end - body);
}

TEST(Templates, SystemTemplatesHoldNoBrace) {
  const std::string* all[] = {&v::A_STOCK_SYSTEM_TEMPLATE(), &v::US_STOCK_SYSTEM_TEMPLATE(),
                              &v::HK_STOCK_SYSTEM_TEMPLATE(), &v::ETF_STOCK_SYSTEM_TEMPLATE(),
                              &v::SUMMARY_SYSTEM_TEMPLATE()};
  for (const std::string* t : all) {
    SCOPED_TRACE(t->substr(0, 60));
    EXPECT_EQ(t->find('{'), std::string::npos);
    EXPECT_EQ(t->find('}'), std::string::npos);
  }
}

TEST(Templates, StockTemplatesCarryExactlyTheContractPlaceholders) {
  for (Market m : kMarkets) {
    for (Form f : {Form::Full, Form::User}) {
      SCOPED_TRACE(std::string(v::market_name(m)) + "/" + std::string(v::form_name(f)));
      const std::string& t = v::stock_template(m, f);
      EXPECT_EQ(v::placeholders(t), kStockPlaceholders);
      EXPECT_EQ(count(t, "{{"), 1u);
      EXPECT_EQ(count(t, "}}"), 1u);
    }
  }
}

TEST(Templates, SummaryTemplatesCarryTheReportPlaceholder) {
  EXPECT_THAT(v::placeholders(v::SUMMARY_PROMPT()), ::testing::ElementsAre("analysis_report"));
  EXPECT_THAT(v::placeholders(v::SUMMARY_USER_TEMPLATE()), ::testing::ElementsAre("analysis_report"));
  EXPECT_EQ(v::SUMMARY_SYSTEM_TEMPLATE().find("{analysis_report}"), std::string::npos);
  EXPECT_TRUE(v::SUMMARY_USER_TEMPLATE().ends_with("请开始你的总结：\n"));
  EXPECT_EQ(v::SUMMARY_PROMPT().find("请开始你的总结"), std::string::npos);
  EXPECT_EQ(v::SUMMARY_SYSTEM_TEMPLATE().size() + v::detail::SUMMARY_USER_BLOCK.size(), v::SUMMARY_PROMPT().size());
}

// Rendering the full prompt for any stock and taking out the rendered per-stock parts leaves the
// system template, byte for byte: the system prefix does not depend on the stock.
TEST(Templates, SystemTemplateIsTheStockIndependentRemainder) {
  const nlohmann::ordered_json stocks[] = {
      vellumor_test::stock_values(),
      vellumor_test::stock_values("us.AAPL", "Apple {Inc}", 187.9),
  };
  for (Market m : kMarkets) {
    const auto& p = pieces(m);
    for (const auto& values : stocks) {
      SCOPED_TRACE(std::string(v::market_name(m)) + " " + values["stock_code"].get<std::string>());
      std::string text = v::render(v::stock_template(m, Form::Full), values);
      std::string example(v::detail::STEP6_EXAMPLE_USER);
      example.erase(0, example.find_first_not_of('\n'));
      const std::string parts[] = {
          v::render(v::_build_input_header(p.code_label, p.name_label, p.daily_label, p.weekly_label), values),
          v::render(v::_build_input_env_section(p.entity), values), v::render(example, values),
          std::string(v::detail::USER_KICKOFF)};
      for (const std::string& part : parts) {
        const auto pos = text.find(part);
        ASSERT_NE(pos, std::string::npos);
        text.erase(pos, part.size());
      }
      EXPECT_EQ(text, v::stock_template(m, Form::System));
    }
  }
}

TEST(Templates, UserPartsAppearInTheFullPromptInOrder) {
  for (Market m : kMarkets) {
    SCOPED_TRACE(v::market_name(m));
    const auto& p = pieces(m);
    const std::string& full = v::stock_template(m, Form::Full);
    std::string example(v::detail::STEP6_EXAMPLE_USER);
    example.erase(0, example.find_first_not_of('\n'));
    const auto header = full.find(v::_build_input_header(p.code_label, p.name_label, p.daily_label, p.weekly_label));
    const auto env = full.find(v::_build_input_env_section(p.entity));
    const auto ex = full.find(example);
    const auto kickoff = full.find(v::detail::USER_KICKOFF);
    ASSERT_NE(kickoff, std::string::npos);
    EXPECT_LT(header, env);
    EXPECT_LT(env, ex);
    EXPECT_LT(ex, kickoff);
    EXPECT_TRUE(full.ends_with("请开始你的分析：\n"));
  }
}

TEST(Templates, RenderedExampleIsAJsonObjectWithTheStockValues) {
  const auto values = vellumor_test::stock_values("hk.00700", "腾讯控股", 512.25);
  for (Market m : kMarkets) {
    for (Form f : {Form::Full, Form::User}) {
      SCOPED_TRACE(std::string(v::market_name(m)) + "/" + std::string(v::form_name(f)));
      const auto decision = nlohmann::ordered_json::parse(json_fence(v::render(v::stock_template(m, f), values)));
      ASSERT_TRUE(decision.is_object());
      EXPECT_EQ(decision["stock_code"], "hk.00700");
      EXPECT_EQ(decision["stock_name"], "腾讯控股");
      EXPECT_EQ(decision["analysis_time"], "2025-06-30");
      ASSERT_TRUE(decision["current_price"].is_number());
      EXPECT_DOUBLE_EQ(decision["current_price"].get<double>(), 512.25);
      EXPECT_EQ(decision["action"], "观望等待");
      EXPECT_EQ(decision.size(), 23u);
    }
  }
}

TEST(Templates, StockUserTemplatesDifferOnlyInLabels) {
  EXPECT_EQ(v::A_STOCK_USER_TEMPLATE(), v::US_STOCK_USER_TEMPLATE());
  EXPECT_EQ(v::A_STOCK_USER_TEMPLATE(), v::HK_STOCK_USER_TEMPLATE());
  std::string etf = v::ETF_STOCK_USER_TEMPLATE();
  const std::pair<std::string, std::string> swaps[] = {
      {"- ETF代码：", "- 股票代码："},     {"- ETF名称：", "- 股票名称："},
      {"**日交易数据 (", "**日线数据 ("}, {"**周交易数据 (", "**周线数据 ("},
      {"下的所有ETF\n", "下的所有个股\n"}};
  for (const auto& [from, to] : swaps) {
    const auto pos = etf.find(from);
    ASSERT_NE(pos, std::string::npos) << from;
    etf.replace(pos, from.size(), to);
  }
  EXPECT_EQ(etf, v::A_STOCK_USER_TEMPLATE());
}

TEST(Templates, SystemTemplateReadsRoleDataGuideSeparatorFramework) {
  for (Market m : kMarkets) {
    SCOPED_TRACE(v::market_name(m));
    const std::string& s = v::stock_template(m, Form::System);
    EXPECT_TRUE(s.starts_with("# Role: "));
    const auto guide = s.find("**数据格式说明**");
    const auto sep = s.find("\n---\n");
    const auto frame = s.find("## 分析框架");
    EXPECT_LT(guide, sep);
    EXPECT_LT(sep, frame);
    // The separator that followed the per-stock market-brief section stays.
    EXPECT_NE(s.find("\n\n---\n\n## 分析框架"), std::string::npos);
    EXPECT_EQ(s.find("## 输入数据"), std::string::npos);
    EXPECT_EQ(s.find("<market_ai_brief>"), std::string::npos);
    EXPECT_EQ(s.find("#### 6.2 示例 JSON"), std::string::npos);
    EXPECT_EQ(s.find("请开始你的分析"), std::string::npos);
    EXPECT_NE(s.find("#### 6.3 输出要求"), std::string::npos);
  }
}

// An instrument's market-type text picks its own market's template; only the exact texts are
// market types (the case-insensitive parse is for people typing).
TEST(Templates, LookupByMarketTypeText) {
  EXPECT_TRUE(v::stock_template("ETF", Form::User).starts_with("\n## 输入数据\n### 1. 标的信息\n- ETF代码："));
  EXPECT_TRUE(v::stock_template("HK", Form::System).starts_with("# Role: 港股"));
  EXPECT_TRUE(v::stock_template("US", Form::Full).starts_with("# Role: 美股"));
  EXPECT_TRUE(v::stock_template("A", Form::Full).starts_with("# Role: A股"));
  for (const char* bad : {"", "a", "etf", "CN", "SH"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(v::stock_template(bad, Form::Full), quorvel::ValueError);
  }
  EXPECT_EQ(v::parse_market("etf"), Market::ETF);
  EXPECT_EQ(v::parse_form("System"), Form::System);
  EXPECT_FALSE(v::parse_form("sys").has_value());
}

}  // namespace
