#include "quorvel/agent/schemas/json_reader.h"

#include <cmath>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvel::agent::schemas {
namespace {

using Json = nlohmann::ordered_json;
using ::testing::HasSubstr;

TEST(DecisionJsonReader, AcceptsStandardJsonAndTheThreeWords) {
  const auto r = read_decision_json(
      R"( {"a": [1, -2, 3.5, 1e2, true, false, null, "x\u00e9\ud83d\ude00\n"], "b": NaN, "c": Infinity, "d": -Infinity,
           "big": 18446744073709551615, "neg": -9223372036854775808, "huge": 123456789012345678901234567890,
           "tiny": 1e-400} )");
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.value["a"], Json::parse(R"([1, -2, 3.5, 100.0, true, false, null, "xé😀\n"])"));
  EXPECT_TRUE(std::isnan(r.value["b"].get<double>()));
  EXPECT_EQ(r.value["c"].get<double>(), std::numeric_limits<double>::infinity());
  EXPECT_EQ(r.value["d"].get<double>(), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(r.value["big"].get<std::uint64_t>(), 18446744073709551615u);
  EXPECT_EQ(r.value["neg"].get<std::int64_t>(), std::numeric_limits<std::int64_t>::min());
  EXPECT_DOUBLE_EQ(r.value["huge"].get<double>(), 1.2345678901234568e29);
  EXPECT_EQ(r.value["tiny"].get<double>(), 0.0);
}

TEST(DecisionJsonReader, RejectsWhatStandardJsonRejects) {
  const struct {
    std::string name;
    std::string text;
    std::string error_part;
  } rows[] = {
      {"raw line break in a string", "{\"a\": \"x\ny\"}", "control character in string. (char 8)"},
      {"raw tab in a string", "[\"\t\"]", "control character"},
      {"text after the value", "{\"a\": 1} trailing", "must not be followed"},
      {"two values", "{} {}", "must not be followed"},
      {"empty document", "  ", "empty"},
      {"single quotes", "{'a': 1}", "(char 1)"},
      {"trailing comma", "[1, 2,]", ""},
      {"comment", "[1] // c", ""},
      {"leading plus", "[+1]", ""},
      {"bare Inf", "[Inf]", "非法数值 Inf"},
      {"negative NaN", "[-NaN]", "非法数值 -NaN"},
      {"lower-case nan", "[nan]", ""},
      {"lone high surrogate escape", R"(["\ud800"])", "surrogate"},
      {"lone low surrogate escape", R"(["\udc00"])", "代理项"},
      {"NUL byte", std::string("[1]\0[2]", 7), "NUL 字符 (char 3)"},
      {"number too big for a real", "[1e400]", "too big"},
      {"position counts code points", "{\"汉字\": x}", "(char 7)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto r = read_decision_json(row.text);
    EXPECT_FALSE(r.ok());
    EXPECT_THAT(r.error, HasSubstr(row.error_part));
    EXPECT_TRUE(r.value.is_null());
  }
}

TEST(DecisionJsonReader, LastDuplicateWinsAtTheFirstPosition) {
  const auto r = read_decision_json(R"({"a": 1, "b": 2, "a": {"x": 1, "x": [3]}, "c": 4, "b": null})");
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.value.dump(), R"({"a":{"x":[3]},"b":null,"c":4})");
}

TEST(DecisionJsonReader, NestingIsLimitedNotRecursive) {
  const std::string ok_depth = std::string(MAX_JSON_DEPTH, '[') + std::string(MAX_JSON_DEPTH, ']');
  EXPECT_TRUE(read_decision_json(ok_depth).ok());
  const std::string too_deep = std::string(MAX_JSON_DEPTH + 1, '[') + std::string(MAX_JSON_DEPTH + 1, ']');
  const auto r = read_decision_json(too_deep);
  EXPECT_FALSE(r.ok());
  EXPECT_THAT(r.error, HasSubstr("嵌套超过"));
  const std::string very_deep = std::string(100000, '{') + std::string(100000, '}');
  EXPECT_FALSE(read_decision_json(very_deep).ok());
}

}  // namespace
}  // namespace quorvel::agent::schemas
