// tarnel-update against a generated K-line host: a pool with a bad code, then a second run that
// finds everything up to date; switched off and usage errors.
#include <regex>

#include <gtest/gtest.h>

#include "online_fixture.h"

namespace tarnel::online {
namespace {

using quorvel::testing::ScopedEnv;

using UpdateCommand = OnlineFixture;

TEST_F(UpdateCommand, BringsAPoolUpToDate) {
  quorvel::testing::FakeKlineServer host(generated());
  ScopedEnv home("QUORVEL_HOME", temp_.path().string()), center("TARNEL_CENTER", temp_.path().string()),
      url("TARNEL_EASTMONEY_URL", host.base_url()), order("TARNEL_PROVIDERS", "eastmoney"),
      interval("TARNEL_REQUEST_INTERVAL_MS", "0"), online("TARNEL_ONLINE", std::nullopt);
  quorvel::testing::write_file(temp_ / "pool.txt", "sh.600000\n# watch list\n510050, 上证50ETF\nxx.bad\n");
  // The command reads the real clock: start three weeks before today.
  const Date today = date::floor<date::days>(std::chrono::system_clock::now());
  const std::string start = "--start " + date_text(today - date::days{21});
  struct Row {
    std::string args;
    int status;
    const char* summary;
  };
  const std::vector<Row> rows{
      {"--pool " + (temp_ / "pool.txt").string() + " " + start, 1, "合计: 3 个证券，新增 \\d+ 根K线；2 个已更新，0 个已是最新，1 个失败"},
      {"sh.600000 510050 " + start, 0, "合计: 2 个证券，新增 0 根K线；0 个已更新，2 个已是最新，0 个失败"},
      {"", 2, ""},
      {"--market XX", 2, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.args);
    const auto run = quorvel::testing::run_program(TARNEL_UPDATE_BIN, r.args, temp_.path());
    EXPECT_EQ(run.status, r.status) << run.out << run.err;
    EXPECT_TRUE(std::regex_search(run.out, std::regex(r.summary))) << run.out;
  }
  const auto first = quorvel::testing::run_program(TARNEL_UPDATE_BIN, "--pool " + (temp_ / "pool.txt").string(), temp_.path());
  EXPECT_NE(first.out.find("失败 xx.bad"), std::string::npos) << first.out;
  EXPECT_NE(first.err.find("[3/3]"), std::string::npos) << first.err;
  EXPECT_EQ(local_->get_name_from_code("510050"), "测试510050");

  ScopedEnv off("TARNEL_ONLINE", "0");
  const auto disabled = quorvel::testing::run_program(TARNEL_UPDATE_BIN, "sh.600000", temp_.path());
  EXPECT_EQ(disabled.status, 1);
  EXPECT_NE(disabled.err.find("TARNEL_ONLINE=0"), std::string::npos);
}

}  // namespace
}  // namespace tarnel::online
