// quorvel-screen end to end on the bundled data in a fresh store, and what a damaged ranking file
// does to the screen and to later analyses.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

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
  EXPECT_NE(run.out.find("code,name,as_of,price,strategy_type,score,urgency,risk_flags\n"), std::string::npos);
  EXPECT_NE(run.out.find("sh.600519,贵州茅台,2023-02-10,1810.0,ALL,0.00"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("hk.00700,"), std::string::npos) << run.out;
  // A pool screen leaves the market rankings alone unless asked.
  EXPECT_FALSE(std::filesystem::exists(dir / "screen_ranks.sqlite"));
  // On a day long after the bundled bars end, every instrument is stale: counted, not listed.
  const ProgramRun stale = screen("--pool pool.txt --selector all -t 2025-06-04 --format csv");
  EXPECT_NE(stale.err.find("通过 0，无数据 0，数据滞后 2"), std::string::npos) << stale.err;
  EXPECT_EQ(stale.out.find("sh.600519,"), std::string::npos) << stale.out;
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
      {"--market A -t 2023-02-10 --start 2030-01-01", 2, "--start 2030-01-01 晚于筛选日期 2023-02-10"},
      {"--market A -t 2023-02-12 --start 2023-02-11", 2, "晚于最近一个已收盘的交易日 2023-02-10"},
      {"--market A -t 2023-02-10 --start garbage", 2, "--start 日期格式错误: garbage"},
      {"--market A -t 2023-02-10 -j -1", 2, "--jobs: 取值应为 0 到 256 的整数，实际为 -1"},
      {"--pool missing.txt -t 2023-02-10", 2, "无法读取股票池文件"},
      {"--pool logs -t 2023-02-10", 2, "是一个目录"},
      {"--pool empty.txt -t 2023-02-10", 1, "没有可筛选的标的"},
      {"--pool bad.txt -t 2023-02-10", 1, "筛选失败"},
  };
  testing::write_file(dir / "empty.txt", "# nothing\n");
  testing::write_file(dir / "bad.txt", "zz.1\n");
  std::filesystem::create_directory(dir / "logs");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    const ProgramRun run = screen(row.args);
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "screen_ranks.sqlite"));
}

TEST_F(ScreenCommand, AScreenWithoutBarsKeepsTheStoredRanking) {
  zerith::ScreenRankStore ranks(dir / "screen_ranks.sqlite", true);
  ranks.save("ETF", "1999-02-10", {{"510050", 8.0, "趋势跟随"}});
  const ProgramRun run = screen("--market ETF -t 1999-02-10");  // no bundled fund has bars that early
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("ETF 市场没有一只标的在 1999-02-10 筛选成功"), std::string::npos) << run.err;
  EXPECT_EQ(ranks.size("ETF", "1999-02-10"), 1);
  // A window too short for any setup screens everything as "not eligible"; it is printed only.
  ranks.save("ETF", "2023-02-10", {{"510050", 8.0, "趋势跟随"}});
  const ProgramRun short_window = screen("--market ETF -t 2023-02-10 --start 2022-12-01");
  EXPECT_EQ(short_window.status, 0) << short_window.err;
  EXPECT_NE(short_window.err.find("不保存为当日排名"), std::string::npos) << short_window.err;
  EXPECT_EQ(ranks.size("ETF", "2023-02-10"), 1);
}

TEST_F(ScreenCommand, ADamagedRankingFileIsNamedAndTheScreenStillPrints) {
  testing::write_file(dir / "screen_ranks.sqlite", "not a database\n");
  const ProgramRun run = screen("--market ETF -t 2023-02-10 --selector all --format csv");
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.out.find("\n510050,"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("排名未能保存: 筛选排名库 " + (dir / "screen_ranks.sqlite").string()), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("删除它后重新运行"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("行情库"), std::string::npos) << run.err;
}

// pelion-batch analyses with the offline client on the bundled data; the damaged ranking costs one
// warning and the universe rank, nothing else.
TEST_F(ScreenCommand, AnalysesGoOnWithADamagedRankingFile) {
  ScopedEnv client{"LLM_CLIENT_TYPE", "offline"};
  ScopedEnv reports{"REPORT_DIR", (dir / "report").string()};
  ScopedEnv briefs{"QUORVEL_SOLVARA_DIR", (dir / "briefs").string()};
  ScopedEnv mq{"QUORVEL_MQ_URL", std::nullopt};
  testing::write_file(dir / "screen_ranks.sqlite", "not a database\n");
  testing::write_file(dir / "pool.txt", "sh.600000\nsh.600519\n");
  const ProgramRun run = testing::run_program("cd '" + dir.path().string() + "' && " + BATCH_BIN,
                                              "--pool pool.txt -t 2023-02-10", dir.path());
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string warning = "全市场排名不可用，分析继续但不含 universe_rank: 筛选排名库 " +
                              (dir / "screen_ranks.sqlite").string();
  const auto first = run.err.find(warning);
  EXPECT_NE(first, std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(warning, first + 1), std::string::npos) << run.err;
}

// A command whose standard output is a pipe nobody reads any more ends with its own status instead
// of being killed by SIGPIPE.
TEST_F(ScreenCommand, AClosedOutputPipeDoesNotKillTheCommand) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir / "stderr.txt").c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addchdir_np(&actions, dir.path().c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &pipe_only);  // whatever the test runner does with SIGPIPE
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  std::string program = SCREEN_BIN;
  std::vector<std::string> args = {program, "--market", "ETF", "-t", "2023-02-10"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  close(fds[1]);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ASSERT_EQ(spawned, 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << testing::read_file(dir / "stderr.txt");
}

}  // namespace
}  // namespace quorvel
