// quorvel-screen end to end on the bundled data in a fresh store.
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_support.h"
#include "zerith/screen_ranks.h"

namespace quorvel {
namespace {

using testing::ProgramRun;
using testing::ScopedEnv;
using testing::TempDir;

class ScreenCommand : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedEnv center{"TARNEL_CENTER", dir.path().string()};
  // Runs the command in the test's directory, so relative file names point into it.
  ProgramRun screen(const std::string& args) {
    return testing::run_program("cd '" + dir.path().string() + "' && " + SCREEN_BIN, args, dir.path());
  }
};

TEST_F(ScreenCommand, ScreensAMarketPrintsItsSurvivorsAndStoresTheRanking) {
  const ProgramRun run = screen("--market ETF -t 2023-02-10 --format json");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto list = nlohmann::json::parse(run.out);
  ASSERT_FALSE(list.empty());
  for (std::size_t i = 0; i < list.size(); ++i) {
    EXPECT_GE(list[i]["score"].get<double>(), 6.0);  // the lowest combined threshold in force
    if (i) {
      EXPECT_LE(list[i]["score"].get<double>(), list[i - 1]["score"].get<double>());
    }
  }
  EXPECT_NE(run.err.find("筛选完成 2023-02-10: 共 16 只，已筛选 16，通过 " + std::to_string(list.size()) + "，无数据 1"),
            std::string::npos)
      << run.err;
  zerith::ScreenRankStore ranks(dir / "screen_ranks.sqlite", false);
  const auto first = ranks.rank("ETF", "2023-02-10", list[0]["code"].get<std::string>());
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->rank, 1);
  EXPECT_EQ(first->size, int(list.size()));
}

TEST_F(ScreenCommand, OneBadInstrumentIsReportedAndSkipped) {
  testing::write_file(dir / "pool.txt", "# watchlist\nsh.600519\n\nnot-a-code\nhk.00700, 腾讯\n");
  const ProgramRun run = screen("--pool pool.txt --selector all -t 2023-02-10 --format csv");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("not-a-code 筛选失败"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("code,name,strategy_type,score,urgency,risk_flags\n"), std::string::npos);
  EXPECT_NE(run.out.find("sh.600519,贵州茅台,ALL,0.00"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("hk.00700,"), std::string::npos) << run.out;
  // A pool screen leaves the market rankings alone unless asked.
  EXPECT_FALSE(std::filesystem::exists(dir / "screen_ranks.sqlite"));
}

TEST_F(ScreenCommand, UsageErrorsAndNothingToScreen) {
  struct Row {
    const char* args;
    int status;
    const char* message;
  };
  const Row rows[] = {
      {"", 2, "需要 --pool FILE 或 --market"},
      {"--market XX", 2, "XX"},
      {"--market A --pool p.txt", 2, "excludes"},
      {"--market A -t 2023-13-01", 2, "日期格式错误: 2023-13-01"},
      {"--market A -t 2999-01-01", 2, "未来日期"},
      {"--pool missing.txt -t 2023-02-10", 1, "无法读取股票池文件"},
      {"--pool empty.txt -t 2023-02-10", 1, "没有可筛选的标的"},
      {"--pool bad.txt -t 2023-02-10", 1, "筛选失败"},
  };
  testing::write_file(dir / "empty.txt", "# nothing\n");
  testing::write_file(dir / "bad.txt", "zz.1\n");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    const ProgramRun run = screen(row.args);
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace quorvel
