#include <cmath>

#include <gtest/gtest.h>

#include "quorvel/utils/environment.h"
#include "quorvel/utils/json_text.h"
#include "quorvel/utils/market_type.h"
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

TEST(Environment, ProjectRootComesFromQuorvelHome) {
  testing::ScopedEnv home("QUORVEL_HOME", "/tmp/somewhere");
  EXPECT_EQ(get_project_root(), std::filesystem::path("/tmp/somewhere"));
}

}  // namespace
}  // namespace quorvel

#include "contracts/constants.h"
#include "quorvel/utils/market_indices.h"

namespace quorvel {
namespace {

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

TEST(CoreIndices, EachMarketInItsOrderWithDisplayNames) {
  const auto a = _get_indices_for_market("A");
  ASSERT_EQ(a.size(), 6u);
  EXPECT_EQ(a.front().value, "上证指数");
  EXPECT_EQ(a.back().value, "中证500");
  EXPECT_EQ(_get_indices_for_market("ETF"), a);
  EXPECT_EQ(_get_indices_for_market("HK")[1].value, "恒生科技指数");
  EXPECT_EQ(_get_indices_for_market("US")[2].value, "道琼斯");
  EXPECT_TRUE(_get_indices_for_market("a").empty());
}

TEST(TuningConstants, KeepTheBaseScoreWithinItsRangeAndHoldTheRequiredEntries) {
  const auto& c = constants::tuning();
  ASSERT_TRUE(c.REGIME_PARAMS.count("偏空"));
  ASSERT_TRUE(c.POSITION_CAPS.count("bottom") && c.POSITION_CAPS.count("default"));
  EXPECT_TRUE(c.STRATEGY_THRESHOLDS.count("底部反转") && c.STRATEGY_THRESHOLDS.count("趋势跟随"));
  double max_env = 0;
  for (const auto& [bias, v] : c.MARKET_ENV_SCORES) max_env = std::max(max_env, v);
  EXPECT_LE(1.0 + 1.0 + max_env + 0.5, 4.5);
  constants::TuningConstants changed = c;
  changed.REGIME_PARAMS.erase("偏空");
  Service<constants::TuningConstants>::Guard guard(std::shared_ptr<constants::TuningConstants>(&changed, [](auto*) {}));
  EXPECT_FALSE(constants::tuning().REGIME_PARAMS.count("偏空"));
}

}  // namespace
}  // namespace quorvel
