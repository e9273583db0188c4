#include <pwd.h>

#include <cmath>

#include <gtest/gtest.h>

#include "quorvel/utils/environment.h"
#include "quorvel/utils/json_text.h"
#include "quorvel/utils/market_indices.h"
#include "quorvel/utils/market_type.h"
#include "quorvel/utils/text.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

TEST(MarketType, ClassifiesEveryCodeForm) {
  const struct {
    const char* code;
    const char* name;
    std::optional<std::string> market;
  } rows[] = {
      {"sh.600000", "", "A"},     {"sz.000001", "", "A"},      {"bj.430047", "", "A"},  {"SH.600000", "", "A"},
      {"sh.000001", "", "A"},     {"sh.510050", "", "ETF"},    {"sz.159915", "", "ETF"}, {"sz.000001", "某ETF", "ETF"},
      {"510050", "", "ETF"},      {"etf.510050", "", "ETF"},   {"hk.00700", "", "HK"},   {"us.AAPL", "", "US"},
      {"AAPL", "", std::nullopt}, {"xx.123", "", std::nullopt}, {"", "", std::nullopt},  {"sh.", "", std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(get_market_type(row.code, row.name), row.market);
  }
}

TEST(SafeJsonDumps, WritesConventionalSeparatorsAndNullForNaN) {
  nlohmann::ordered_json v = {{"b", 1}, {"a", {1.5, std::nan(""), "涨"}}, {"c", nlohmann::ordered_json::object()}};
  EXPECT_EQ(safe_json_dumps(v), R"({"b": 1, "a": [1.5, null, "涨"], "c": {}})");
  EXPECT_EQ(safe_json_dumps(v, true), R"({"b": 1, "a": [1.5, null, "\u6da8"], "c": {}})");
  EXPECT_EQ(safe_json_dumps({{"k", {1, 2}}}, false, 2), "{\n  \"k\": [\n    1,\n    2\n  ]\n}");
  EXPECT_EQ(safe_json_dumps(std::numeric_limits<double>::infinity()), "null");
}

TEST(Environment, EnvFileNeverOverridesAndParsesQuotesAndExports) {
  testing::TempDir dir;
  testing::write_file(dir / ".env",
                      "# comment\nQV_TEST_A=1\nexport QV_TEST_B=\"two words\"\nQV_TEST_C='x=y'\nbroken line\n");
  testing::ScopedEnv a("QV_TEST_A", "preset"), b("QV_TEST_B", std::nullopt), c("QV_TEST_C", std::nullopt);
  EXPECT_EQ(load_env_file(dir / ".env"), 2);
  EXPECT_EQ(env_value("QV_TEST_A"), "preset");
  EXPECT_EQ(env_value("QV_TEST_B"), "two words");
  EXPECT_EQ(env_value("QV_TEST_C"), "x=y");
  EXPECT_EQ(load_env_file(dir / "missing.env"), 0);
}

TEST(Environment, OnlyTheProjectRootsEnvFileIsRead) {
  testing::TempDir root, cwd;
  testing::write_file(root / ".env", "QV_TEST_ROOT=1\n");
  testing::write_file(cwd / ".env", "QV_TEST_CWD=1\nDEEPSEEK_BASE_URL=http://elsewhere.invalid\n");
  testing::ScopedEnv home("QUORVEL_HOME", root.path().string());
  testing::ScopedEnv a("QV_TEST_ROOT", std::nullopt), b("QV_TEST_CWD", std::nullopt), url("DEEPSEEK_BASE_URL", std::nullopt);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(cwd.path());
  const int count = load_quorvel_env();
  std::filesystem::current_path(previous);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(env_value("QV_TEST_ROOT"), "1");
  EXPECT_FALSE(env_value("QV_TEST_CWD").has_value());
  EXPECT_FALSE(env_value("DEEPSEEK_BASE_URL").has_value());
}

// Every root from one table of settings: (TARNEL_CENTER, REPORT_DIR, QUORVEL_SOLVARA_DIR) and the
// data root, report directory and brief cache directory they give, with the project root /opt/q.
// A relative brief cache setting stays relative (to the working directory).
TEST(Environment, RootsFollowOneSetOfRules) {
  struct Row {
    std::optional<std::string> center, report, cache;
    std::string data_root, report_dir, cache_dir;
  };
  const std::string root_home = getpwnam("root")->pw_dir;
  const Row rows[] = {
      {{}, {}, {}, "/opt/q", "/opt/q/report", "/opt/q/report/solvaras"},
      {"/srv/data", {}, {}, "/srv/data", "/srv/data/report", "/srv/data/report/solvaras"},
      {"/srv/data", "  /srv/reports\u3000", {}, "/srv/data", "/srv/reports", "/srv/reports/solvaras"},
      {"data", "out/reports", "cache", "/opt/q/data", "/opt/q/out/reports", "cache"},
      {"~", "~/reports", "~root/briefs", "/users/t", "/users/t/reports", root_home + "/briefs"},
      {"~no_such_user_q/x", {}, {}, "/opt/q/~no_such_user_q/x", "/opt/q/~no_such_user_q/x/report",
       "/opt/q/~no_such_user_q/x/report/solvaras"},
  };
  testing::ScopedEnv project("QUORVEL_HOME", "/opt/q"), home("HOME", "/users/t");
  for (const Row& r : rows) {
    SCOPED_TRACE(r.data_root + " " + r.report_dir);
    testing::ScopedEnv c("TARNEL_CENTER", r.center), d("REPORT_DIR", r.report), b("QUORVEL_SOLVARA_DIR", r.cache);
    EXPECT_EQ(get_project_root(), std::filesystem::path("/opt/q"));
    EXPECT_EQ(data_root(), std::filesystem::path(r.data_root));
    EXPECT_EQ(report_directory(), std::filesystem::path(r.report_dir));
    EXPECT_EQ(brief_cache_directory(), std::filesystem::path(r.cache_dir));
  }
}

TEST(Text, DateKeyIsTheTrimmedDatePartInWholeCharacters) {
  const std::pair<std::string, std::string> rows[] = {
      {"2026-05-02", "2026-05-02"},          {"2026-05-02_1500", "2026-05-02"},
      {" 2026-05-02 15:00:00", "2026-05-02"}, {"", ""},
      {"\u30002026-05-02T09:30", "2026-05-02"}, {"二〇二六年五月二日星期六", "二〇二六年五月二日星"},
  };
  for (const auto& [in, want] : rows) {
    SCOPED_TRACE(in);
    EXPECT_EQ(date_key(in), want);
  }
}

TEST(Ema, SeededWithTheFirstValueAndAligned) {
  const auto e = _ema({10, 11, 12, std::nan(""), 13}, 3);  // alpha 0.5
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0], 10);
  EXPECT_EQ(e[1], 10.5);
  EXPECT_EQ(e[2], 11.25);
  EXPECT_EQ(e[3], 11.25);
  EXPECT_EQ(e[4], 12.125);
  EXPECT_TRUE(_ema({}, 5).empty());
}

}  // namespace
}  // namespace quorvel
