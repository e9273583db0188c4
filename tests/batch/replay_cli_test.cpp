// pelion-replay end to end on the bundled bars: its own store beside the live one, audits sharing
// their system message, a second run that resumes, and the consent a paid model needs.
#include <filesystem>
#include <regex>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnv;

struct Sandbox {
  testing::TempDir dir;
  ScopedEnv center{"TARNEL_CENTER", dir.path().string()};
  ScopedEnv reports{"REPORT_DIR", (dir / "report").string()};
  ScopedEnv mq{"QUORVEL_MQ_URL", "redis://127.0.0.1:1/0"};  // never reached: a replay does not publish
  testing::ProgramRun run(const std::string& args) {
    return testing::run_program("cd '" + dir.path().string() + "' && '" PELION_REPLAY_BIN "'", args, dir.path());
  }
};

TEST(ReplayCommand, KeepsItsOwnStoreAndResumes) {
  Sandbox box;
  ScopedEnv type("LLM_CLIENT_TYPE", std::nullopt);  // offline unless a model is named
  testing::write_file(box.dir / "pool.txt", "sh.600519\nhk.00700\n");
  const std::string args = "--pool pool.txt --from 2023-01-18 --to 2023-01-31 --every 2 -c 2";
  const auto first = box.run(args);
  ASSERT_EQ(first.status, 0) << first.err;
  // Sessions of the union calendar 01-18 ... 01-31 (A-shares close 01-23..27, Hong Kong 01-23..25),
  // every second: 01-18, 01-20, 01-27, 01-31.
  EXPECT_NE(first.out.find("回放完成：4 个交易日，新分析 7，已存储 1，失败 0"), std::string::npos) << first.out << first.err;
  const fs::path replay = box.dir / "report" / "replay";
  EXPECT_TRUE(fs::exists(replay / "reports.sqlite3"));
  EXPECT_FALSE(fs::exists(box.dir / "report" / "reports.sqlite3"));  // the live store is untouched
  std::size_t audits = 0;
  for (const auto& f : fs::directory_iterator(replay / "audit")) {
    if (f.path().extension() != ".json") continue;
    ++audits;
    const auto audit = nlohmann::json::parse(testing::read_file(f.path()));
    EXPECT_TRUE(fs::exists(replay / "audit" / audit["system_message"]["file"].get<std::string>()));
  }
  EXPECT_EQ(audits, 7u);
  const auto again = box.run(args);
  EXPECT_NE(again.out.find("新分析 0，已存储 8"), std::string::npos) << again.out;

  ScopedEnv paid("LLM_CLIENT_TYPE", "deepseek");
  const auto costly = box.run("--pool pool.txt --from 2022-01-01 --to 2022-12-30");
  EXPECT_EQ(costly.status, 2);
  EXPECT_NE(costly.err.find("加 --yes 再运行"), std::string::npos) << costly.err;
}

}  // namespace
}  // namespace quorvel
