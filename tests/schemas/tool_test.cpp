// The quorvel-decision command: output, exit status and log placement.
#include <sys/wait.h>

#include <cstdio>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace {

using quorvel::testing::TempDir;
using quorvel::testing::write_file;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using ToolRun = quorvel::testing::ProgramRun;

ToolRun run_tool(const std::string& args, const TempDir& dir) {
  return quorvel::testing::run_program(QUORVEL_DECISION_TOOL, args, dir.path());
}

TEST(DecisionTool, PrintsTheDecisionMapFromAFile) {
  TempDir dir;
  const ToolRun r = run_tool((quorvel::testing::test_data_dir() / "schemas/reply_fenced.md").string(), dir);
  EXPECT_EQ(r.status, 0) << r.err;
  const auto j = nlohmann::ordered_json::parse(r.out);
  EXPECT_EQ(j.begin().key(), "stock_code");
  EXPECT_EQ(j["entry_price_low"], 10.123);
  EXPECT_THAT(r.out, HasSubstr("\"浦发银行\""));  // non-ASCII kept
}

TEST(DecisionTool, ReadsStandardInputAndBuildsTheRecord) {
  TempDir dir;
  write_file(dir / "reply.txt", R"(结论 {"stock_code": "sh.600000", "analysis_time": "2025-06-30", "direction": "看多",
      "action": "观望等待", "position_pct": 12.9, "extra": 1})");
  const ToolRun r = run_tool("--record --compact < " + (dir / "reply.txt").string(), dir);
  EXPECT_EQ(r.status, 0) << r.err;
  const auto j = nlohmann::ordered_json::parse(r.out);
  EXPECT_EQ(j.size(), 23u);
  EXPECT_EQ(j["position_pct"], "12%");
  EXPECT_FALSE(j.contains("extra"));
}

TEST(DecisionTool, NoDecisionExitsOneWithNothingOnStandardOutput) {
  TempDir dir;
  write_file(dir / "reply.txt", R"(```json
{"action": "观望等待", "direction": "看多", "confidence": "很高"}
```)");
  const ToolRun r = run_tool((dir / "reply.txt").string(), dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, IsEmpty());
  EXPECT_THAT(r.err, HasSubstr("决策枚举非法 | 字段=confidence"));
}

TEST(DecisionTool, RecordValidationErrorExitsTwo) {
  TempDir dir;
  write_file(dir / "reply.txt", R"({"action": "观望等待", "direction": "看多", "holding_period": 5})");
  const ToolRun r = run_tool("--record " + (dir / "reply.txt").string(), dir);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.out, IsEmpty());
  EXPECT_THAT(r.err, HasSubstr("stock_code: 缺少必填字段"));
  EXPECT_THAT(r.err, HasSubstr("holding_period: 应为文本"));
}

TEST(DecisionTool, UsageErrorsExitTwoWithUsageOnStandardError) {
  TempDir dir;
  const ToolRun bad_option = run_tool("--no-such-option", dir);
  EXPECT_EQ(bad_option.status, 2);
  EXPECT_THAT(bad_option.err, HasSubstr("Usage"));
  EXPECT_THAT(bad_option.out, IsEmpty());
  const ToolRun missing = run_tool((dir / "missing.txt").string(), dir);
  EXPECT_EQ(missing.status, 2);
  EXPECT_THAT(missing.err, HasSubstr("missing.txt"));
  const ToolRun help = run_tool("--help", dir);
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("--record"));
}

}  // namespace
