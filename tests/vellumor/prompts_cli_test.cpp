// The quorvel-prompts command: printing, rendering and usage errors.
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "quorvel/agent/prompts/vellumor/render.h"
#include "quorvel/agent/prompts/vellumor/templates.h"
#include "support/test_support.h"
#include "vellumor/template_values.h"

namespace {

namespace v = quorvel::agent::prompts::vellumor;
using quorvel::testing::TempDir;
using quorvel::testing::write_file;
using ::testing::HasSubstr;

using ToolRun = quorvel::testing::ProgramRun;

ToolRun run_tool(const std::string& args, const TempDir& dir) {
  return quorvel::testing::run_program(QUORVEL_PROMPTS_TOOL, args, dir.path());
}

TEST(PromptsTool, PrintsEachTemplateUnchanged) {
  TempDir dir;
  struct Row {
    const char* args;
    const std::string* expected;
  };
  const Row rows[] = {
      {"--market A", &v::A_STOCK_PROMPT()},
      {"--market hk --form system", &v::HK_STOCK_SYSTEM_TEMPLATE()},
      {"-m ETF -f user", &v::ETF_STOCK_USER_TEMPLATE()},
      {"--summary full", &v::SUMMARY_PROMPT()},
      {"--summary system", &v::SUMMARY_SYSTEM_TEMPLATE()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    const ToolRun r = run_tool(row.args, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, *row.expected);
  }
}

TEST(PromptsTool, RendersTheUserTemplateFromAJsonFile) {
  TempDir dir;
  const auto values = vellumor_test::stock_values();
  write_file(dir / "values.json", values.dump(2));
  const ToolRun r = run_tool("--market US --render " + (dir / "values.json").string(), dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, v::render(v::US_STOCK_USER_TEMPLATE(), values));
  EXPECT_THAT(r.out, HasSubstr("\"current_price\": 1520.5,"));
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
