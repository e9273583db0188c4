// The quorvel-prompts command: printing, rendering and usage errors.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "vellumor/template_values.h"

namespace {

using quorvel::testing::read_file;
using quorvel::testing::TempDir;
using quorvel::testing::write_file;
using ::testing::HasSubstr;
using ::testing::Not;

using ToolRun = quorvel::testing::ProgramRun;

ToolRun run_tool(const std::string& args, const TempDir& dir) {
  return quorvel::testing::run_program(QUORVEL_PROMPTS_TOOL, args, dir.path());
}

// The system and user forms print the reviewed copies in tests/data/prompts, whatever the letter
// case of the market or form and the spelling of the options.
TEST(PromptsTool, PrintsTheReviewedCopyOfTheChosenTemplate) {
  TempDir dir;
  const std::pair<const char*, const char*> rows[] = {
      {"--market hk --form system", "HK_system.md"}, {"-m ETF -f user", "ETF_user.md"},
      {"-m us -f USER", "US_user.md"},               {"--summary system", "summary_system.md"},
      {"-s user", "summary_user.md"},
  };
  for (const auto& [args, copy] : rows) {
    SCOPED_TRACE(args);
    const ToolRun r = run_tool(args, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == read_file(quorvel::testing::test_data_dir() / "prompts" / copy)) << "differs from " << copy;
  }
}

// Without --form a market prints its full prompt: its own role and rules with the per-stock
// placeholders, and no rule of another market.
TEST(PromptsTool, FullPromptCarriesItsOwnMarketsRulesOnly) {
  TempDir dir;
  const struct {
    const char *args, *role, *own, *foreign;
  } rows[] = {
      {"--market A", "# Role: A股", "**禁止做空**", "**美股特有风险**"},
      {"-m US", "# Role: 美股", "**美股特有风险**", "**港股特有风险**"},
      {"-m hk", "# Role: 港股", "**T+0 交易节奏指引**（港股特有）", "**ETF 特有风险**"},
      {"-m etf -f full", "# Role: 资深ETF", "**折溢价分析**", "**禁止做空**"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    const ToolRun r = run_tool(row.args, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with(row.role));
    EXPECT_THAT(r.out, HasSubstr(row.own));
    EXPECT_THAT(r.out, HasSubstr("{stock_code}"));
    EXPECT_THAT(r.out, Not(HasSubstr(row.foreign)));
  }
}

// --render fills the user form (its default) from the JSON file: each value stands where the
// template asks for it, no placeholder is left, and a value's own braces stay as written.
TEST(PromptsTool, RendersTheUserTemplateFromAJsonFile) {
  TempDir dir;
  write_file(dir / "values.json", vellumor_test::stock_values().dump(2));
  write_file(dir / "report.json", R"({"analysis_report": "## 报告 {原文}"})");
  const ToolRun stock = run_tool("--market US --render " + (dir / "values.json").string(), dir);
  EXPECT_EQ(stock.status, 0) << stock.err;
  for (const char* piece : {"- 股票代码：sh.600519\n- 股票名称：贵州茅台\n", "- 当前价格：1520.5\n",
                           "<daily_data>\n[{\"Date\": \"2025-06-30\", \"close\": 1520.5}]\n</daily_data>",
                           "\"current_price\": 1520.5,"})
    EXPECT_THAT(stock.out, HasSubstr(piece));
  EXPECT_THAT(stock.out, Not(HasSubstr("{stock_")));
  EXPECT_THAT(stock.out, Not(HasSubstr("# Role:")));  // the user form, not the full prompt
  const ToolRun summary = run_tool("-s user -r " + (dir / "report.json").string(), dir);
  EXPECT_EQ(summary.status, 0) << summary.err;
  EXPECT_THAT(summary.out, HasSubstr("<analysis_report>\n## 报告 {原文}\n</analysis_report>"));
}

TEST(PromptsTool, RenderFailuresSayWhatToFix) {
  TempDir dir;
  auto partial = vellumor_test::stock_values();
  partial.erase("stock_data");
  partial.erase("market_ai_brief");
  write_file(dir / "partial.json", partial.dump());
  write_file(dir / "broken.json", "{\"stock_code\": ");
  write_file(dir / "array.json", "[1, 2]");
  struct Row {
    std::string args;
    const char* message;
  };
  const Row rows[] = {
      {"-m A -r " + (dir / "partial.json").string(), "stock_data, market_ai_brief"},
      {"-m A -r " + (dir / "broken.json").string(), "不是合法的 JSON"},
      {"-m A -r " + (dir / "array.json").string(), "须为 JSON 对象"},
      {"-m A -r " + (dir / "missing.json").string(), "无法读取取值文件"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    const ToolRun r = run_tool(row.args, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, HasSubstr(row.message));
    EXPECT_TRUE(r.out.empty());
  }
}

TEST(PromptsTool, UsageErrorsPrintUsageAndExitTwo) {
  TempDir dir;
  const char* rows[] = {"", "--market CN", "--form user", "--market A --summary user",
                        "--summary brief", "--market A --bogus", "--sizes --market A"};
  for (const char* args : rows) {
    SCOPED_TRACE(args);
    const ToolRun r = run_tool(args, dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("--market"));
    EXPECT_TRUE(r.out.empty());
  }
}

TEST(PromptsTool, HelpAndSizes) {
  TempDir dir;
  const ToolRun help = run_tool("--help", dir);
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("--render"));
  const ToolRun sizes = run_tool("--sizes", dir);
  EXPECT_EQ(sizes.status, 0);
  EXPECT_THAT(sizes.out, HasSubstr("ETF_STOCK_SYSTEM_TEMPLATE"));
  EXPECT_THAT(sizes.out, HasSubstr("SUMMARY_USER_TEMPLATE"));
}

}  // namespace
