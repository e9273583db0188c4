// tarnel-update's usage errors: they end with status 2 before the command looks for a provider, so
// they hold with the online providers off, as in every test.
#include <chrono>
#include <string>

#include <date/date.h>
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace quorvel {
namespace {

// The date `days` after today's UTC date as "YYYY-MM-DD".
std::string days_from_now(int days) {
  const auto today = date::floor<date::days>(std::chrono::system_clock::now());
  return date::format("%F", today + date::days{days});
}

TEST(TarnelUpdate, UsageErrorsEndWithStatusTwoBeforeAnyProviderIsAsked) {
  struct Row {
    std::string args, message;
  };
  const Row rows[] = {
      {"--start " + days_from_now(2) + " sh.600000", "晚于今天"},
      {"--start 2023-02-30 sh.600000", "--start 应为 YYYY-MM-DD 的有效日期"},
      {"--pool pools", "是一个目录"},
      {"--pool binary.txt", "第 1 行含有 NUL 字节"},
  };
  testing::TempDir dir;
  testing::ScopedEnv center{"TARNEL_CENTER", dir.path().string()};
  std::filesystem::create_directory(dir / "pools");
  testing::write_file(dir / "binary.txt", std::string("\x7F" "ELF\x02\x01\x01\0\0\0", 10));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    const auto run = testing::run_program("cd '" + dir.path().string() + "' && '" TARNEL_UPDATE_BIN "'", row.args,
                                          dir.path());
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "tarnel.sqlite"));  // nothing was written
}

}  // namespace
}  // namespace quorvel
