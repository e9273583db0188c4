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

TEST(Environment, ProjectRootComesFromQuorvelHome) {
  testing::ScopedEnv home("QUORVEL_HOME", "/tmp/somewhere");
  EXPECT_EQ(get_project_root(), std::filesystem::path("/tmp/somewhere"));
}

}  // namespace
}  // namespace quorvel
