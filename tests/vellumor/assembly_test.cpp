// The load-time derivation of the system templates and its failure messages.
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "quorvel/agent/prompts/vellumor/sections.h"
#include "quorvel/agent/prompts/vellumor/templates.h"

namespace {

namespace v = quorvel::agent::prompts::vellumor;

std::string without(std::string text, std::string_view part) {
  const auto pos = text.find(part);
  EXPECT_NE(pos, std::string::npos);
  if (pos != std::string::npos) text.erase(pos, part.size());
  return text;
}

std::string example_block() {
  std::string example(v::detail::STEP6_EXAMPLE_USER);
  return example.erase(0, example.find_first_not_of('\n'));
}

std::string derive(const std::string& full, const v::detail::MarketPieces& p) {
  return v::_derive_system_template(full, p.code_label, p.name_label, p.daily_label, p.weekly_label, p.entity);
}

TEST(DeriveSystemTemplate, NamesThePartItCannotFind) {
  const auto& p = v::detail::A_PIECES;
  const std::string& full = v::A_STOCK_PROMPT();
  struct Row {
    std::string prompt;
    const char* message;
  };
  const Row rows[] = {
      {without(full, v::_build_input_header(p.code_label, p.name_label, p.daily_label, p.weekly_label)),
       "[_derive_system_template] 未在 full_prompt 中找到 input_header 段"},
      {without(full, v::_build_input_env_section(p.entity)),
       "[_derive_system_template] 未在 full_prompt 中找到 input_env 段"},
      {without(full, example_block()), "[_derive_system_template] 未在 full_prompt 中找到 6.2 示例块"},
      {without(full, v::detail::USER_KICKOFF), "[_derive_system_template] 未在 full_prompt 中找到 _USER_KICKOFF"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    try {
      derive(row.prompt, p);
      ADD_FAILURE() << "expected a ValueError";
    } catch (const quorvel::ValueError& e) {
      EXPECT_STREQ(e.what(), row.message);
    }
  }
}

TEST(DeriveSystemTemplate, LabelsOfAnotherMarketDoNotMatch) {
  EXPECT_THROW(derive(v::ETF_STOCK_PROMPT(), v::detail::A_PIECES), quorvel::ValueError);
  EXPECT_THROW(derive(v::A_STOCK_PROMPT(), v::detail::ETF_PIECES), quorvel::ValueError);
}

TEST(SplitSummary, FailsWhenTheUserBlockIsMissing) {
  try {
    v::_split_summary_system("# 角色：交易执行专家\n没有输入块\n");
    FAIL() << "expected a RuntimeError";
  } catch (const quorvel::RuntimeError& e) {
    EXPECT_STREQ(e.what(), "SUMMARY_PROMPT 的 user 块锚定失败，请检查 _SUMMARY_USER_BLOCK 文本");
  }
}

TEST(SplitSummary, RemovesOnlyTheFirstBlock) {
  const std::string block(v::detail::SUMMARY_USER_BLOCK);
  EXPECT_EQ(v::_split_summary_system("a\n" + block + "b\n" + block), "a\nb\n" + block);
}

TEST(Builders, LabelsAreFollowedByFullWidthColons) {
  const std::string header = v::_build_input_header("ETF代码", "ETF名称", "日交易数据", "周交易数据");
  EXPECT_NE(header.find("- ETF代码：{stock_code}\n"), std::string::npos);
  EXPECT_NE(header.find("- ETF名称：{stock_name}\n"), std::string::npos);
  EXPECT_NE(header.find("**日交易数据 (Daily Data - 60 days):**\n<daily_data>\n"), std::string::npos);
  EXPECT_NE(header.find("**周交易数据 (Weekly Data - 20 weeks):**\n<weekly_data>\n"), std::string::npos);
  EXPECT_NE(header.find("- 今日涨幅：{pct_change}%\n"), std::string::npos);
}

TEST(Builders, DataFieldsPlaceTheExampleInTheOhlcRow) {
  EXPECT_NE(v::_build_data_fields("1.125, 1.138, 1.120, 1.132")
                .find("| open/high/low/close | OHLC价格 | 1.125, 1.138, 1.120, 1.132 |\n| volume |"),
            std::string::npos);
}

TEST(Builders, FrameworkHeaderEndsWithTheStepZeroInstruction) {
  EXPECT_TRUE(v::_build_framework_header("ETF代码、名称")
                  .ends_with("### 0. 标的信息\n在报告开头输出ETF代码、名称、分析时间和当前价格。\n"));
  EXPECT_TRUE(v::_build_env_and_framework_header("ETF", "x").starts_with(v::_build_input_env_section("ETF")));
}

TEST(Builders, NotesEndWithTheStartInstruction) {
  for (std::string_view mid : {v::detail::NOTES_MID_A, v::detail::NOTES_MID_HK}) {
    const std::string notes = v::_build_notes(v::_build_market_rules("港股", mid, ""));
    EXPECT_TRUE(notes.starts_with("\n## 注意事项\n"));
    EXPECT_TRUE(notes.ends_with("\n请开始你的分析：\n"));
  }
}

}  // namespace
