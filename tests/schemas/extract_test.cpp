#include "quorvel/agent/schemas/extract.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "quorvel/agent/schemas/decision.h"
#include "support/test_support.h"

namespace quorvel::agent::schemas {
namespace {

using Json = nlohmann::ordered_json;
using quorvel::testing::LogCapture;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string fenced(const std::string& body) { return "分析……\n```json\n" + body + "\n```\n结束"; }

TEST(ExtractDecision, RealisticFencedReplyIsNormalisedAndBuildsARecord) {
  const std::string reply = quorvel::testing::read_file(quorvel::testing::test_data_dir() / "schemas/reply_fenced.md");
  LogCapture logs;
  const auto d = extract_decision_json(reply);
  ASSERT_TRUE(d.has_value());
  EXPECT_THAT(logs.lines(), IsEmpty());
  EXPECT_EQ((*d)["entry_price_low"], 10.123);
  EXPECT_EQ((*d)["entry_price_high"], 10.35);
  EXPECT_EQ((*d)["rrr"], 1.5);
  EXPECT_TRUE((*d)["target_1"].is_number_float());
  EXPECT_EQ((*d)["key_watch"], "放量突破 10.92 {上调} 目标；跌破 9.75 止损\"离场\"。");
  EXPECT_EQ(d->begin().key(), "stock_code");  // key order kept
  const StockDecision rec = StockDecision::from_map(*d);
  EXPECT_EQ(rec.position_pct, "30%");
  EXPECT_EQ(rec.stock_name, "浦发银行");
}

TEST(ExtractDecision, EmptyReplyAndEmptyCandidatesGiveNothingSilently) {
  LogCapture logs;
  EXPECT_FALSE(extract_decision_json("").has_value());
  EXPECT_FALSE(extract_decision_json("no braces here").has_value());
  EXPECT_FALSE(extract_decision_json("```json\n```").has_value());
  EXPECT_FALSE(extract_decision_json("```json\n   \n```").has_value());
  EXPECT_THAT(logs.lines(), IsEmpty());
}

TEST(ExtractDecision, FenceFormsAndFallbackToTheScanner) {
  const std::string obj = R"({"action": "观望等待", "direction": "中性", "n": 1})";
  const std::string obj2 = R"({"action": "观望等待", "direction": "看空", "n": 2})";
  const struct {
    std::string name;
    std::string reply;
    std::optional<int> n;
  } rows[] = {
      {"blank lines after label, blanks before close", "```json   \n\n\n" + obj + "  \n \t ```", 1},
      {"first of two fenced blocks", fenced(obj) + fenced(obj2), 1},
      {"upper-case label falls back to scanner", "```JSON\n" + obj + "\n```", 1},
      {"unlabelled fence falls back to scanner", "```\n" + obj + "\n```", 1},
      {"object on the label line is no fence", "```json " + obj + "\n```\n" + obj2, 2},
      {"ideographic space counts as fence white space", "```json\u3000\n" + obj + "\u3000```", 1},
      {"fenced block wins even when it does not parse", "```json\n{oops}\n```\n" + obj, std::nullopt},
      {"no closing fence falls back to scanner", "```json\n" + obj, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto d = extract_decision_json(row.reply);
    ASSERT_EQ(d.has_value(), row.n.has_value());
    if (row.n) {
      EXPECT_EQ((*d)["n"], *row.n);
    }
  }
}

TEST(ExtractDecision, ScannerFixtureWithBracesInStrings) {
  const std::string reply = quorvel::testing::read_file(quorvel::testing::test_data_dir() / "schemas/reply_scanner.md");
  const auto d = extract_decision_json(reply);
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ((*d)["stock_code"], "hk.00700");
  EXPECT_EQ((*d)["stop_loss"], 380.5);
  EXPECT_EQ((*d)["target_1"], 0.0);
}

TEST(ExtractDecision, InvisibleCharactersAreRemovedEvenInsideStrings) {
  const std::string body = "\xEF\xBB\xBF{\"action\": \"观望\u200b等待\", \"direction\": \"中\u00ad性\", "
                           "\"key_watch\": \"a\u3000b\u00a0c\u2028d\u200de\"}";
  const auto d = extract_decision_json(fenced(body));
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ((*d)["action"], "观望等待");
  EXPECT_EQ((*d)["direction"], "中性");
  EXPECT_EQ((*d)["key_watch"], "abcde");
}

TEST(ExtractDecision, SyntaxErrorIsLoggedWithLengthAndPrefix) {
  LogCapture logs;
  const std::string body = "{\"action\": \"观望等待\", \"direction\": \"中\n性\"}";
  EXPECT_FALSE(extract_decision_json(fenced(body)).has_value());
  ASSERT_EQ(logs.lines().size(), 1u);
  const std::string line = logs.lines()[0];
  EXPECT_THAT(line, HasSubstr("warning|决策 JSON 解析失败 | 错误="));
  EXPECT_THAT(line, HasSubstr("control character"));
  EXPECT_THAT(line, HasSubstr(" | 长度=38 | 原始前缀=" + body));
}

TEST(ExtractDecision, LogPrefixIsTheFirst300CodePoints) {
  LogCapture logs;
  std::string body = "{\"action\": [";
  for (int i = 0; i < 400; ++i) body += "\"汉\",";
  EXPECT_FALSE(extract_decision_json(fenced(body)).has_value());
  ASSERT_EQ(logs.lines().size(), 1u);
  const std::string line = logs.lines()[0];
  const std::string prefix = line.substr(line.find("原始前缀=") + std::string("原始前缀=").size());
  EXPECT_THAT(line, HasSubstr("长度=" + std::to_string(12 + 400 * 4)));
  std::size_t code_points = 0;
  for (unsigned char c : prefix) code_points += (c & 0xC0) != 0x80;
  EXPECT_EQ(code_points, 300u);
}

TEST(ExtractDecision, NonObjectsGiveNothingWithoutALogLine) {
  LogCapture logs;
  EXPECT_FALSE(extract_decision_json(fenced("[1, 2, {\"action\": 1}]")).has_value());
  EXPECT_FALSE(extract_decision_json(fenced("42")).has_value());
  EXPECT_FALSE(extract_decision_json(fenced("\"action\"")).has_value());
  EXPECT_THAT(logs.lines(), IsEmpty());
}

TEST(ExtractDecision, MissingCoreKeysAreLoggedAtDebugWithTheKeyList) {
  LogCapture logs;
  EXPECT_FALSE(extract_decision_json(fenced(R"({"stock_code": "sh.600000", "action": "观望等待"})")).has_value());
  EXPECT_FALSE(extract_decision_json(fenced(R"({"direction": "看多", "it's": 1})")).has_value());
  EXPECT_THAT(logs.lines(), ElementsAre("debug|决策 JSON 缺失核心字段 action/direction: ['stock_code', 'action']",
                                        "debug|决策 JSON 缺失核心字段 action/direction: ['direction', \"it's\"]"));
}

TEST(ExtractDecision, NullActionWithDirectionPassesExtractionButNotTheRecord) {
  const auto d = extract_decision_json(fenced(R"({"stock_code": "x", "analysis_time": "2025-06-30",
      "action": null, "direction": "看多", "stop_loss": null})"));
  ASSERT_TRUE(d.has_value());
  EXPECT_TRUE((*d)["action"].is_null());
  EXPECT_TRUE((*d)["stop_loss"].is_null());
  EXPECT_THROW(StockDecision::from_map(*d), ValidationError);
}

TEST(ExtractDecision, DuplicatedKeysKeepTheLastValueAtTheFirstPosition) {
  const auto d = extract_decision_json(fenced(R"({"action": "强烈买入", "direction": "看多", "action": "观望等待"})"));
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(d->size(), 2u);
  EXPECT_EQ(d->begin().key(), "action");
  EXPECT_EQ((*d)["action"], "观望等待");
}

TEST(ExtractDecision, IllegalEnumAndBrokenChainAreRejectedWithTheirWarnings) {
  LogCapture logs;
  EXPECT_FALSE(extract_decision_json(fenced(R"({"action": "观望等待", "direction": "看多", "confidence": "很高"})")));
  EXPECT_FALSE(extract_decision_json(
      fenced(R"({"action": "建议买入", "direction": "看多", "stop_loss": "10.0004", "entry_price_low": 10})")));
  EXPECT_THAT(logs.lines(),
              ElementsAre("warning|决策枚举非法 | 字段=confidence, 当前值='很高', 合法集合={'高', '中', '低'}",
                          "warning|决策价格链违规 | stop_loss=10.000 >= entry_price_low=10.000"));
}

TEST(ExtractDecision, MalformedContentReachesTheCaller) {
  EXPECT_THROW(extract_decision_json(fenced(R"({"action": "观望等待", "direction": ["看多"]})")), quorvel::TypeError);
  EXPECT_THROW(extract_decision_json(fenced(R"({"action": "建议买入", "direction": "看多", "stop_loss": "十元"})")),
               quorvel::ValueError);
  // A wait decision does not read the chain prices, so the same text is simply left in place.
  const auto d = extract_decision_json(fenced(R"({"action": "观望等待", "direction": "看多", "stop_loss": "十元"})"));
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ((*d)["stop_loss"], "十元");
}

TEST(ExtractDecision, NanAndInfinityAreNumbers) {
  const auto d = extract_decision_json(
      fenced(R"({"action": "建议买入", "direction": "看多", "stop_loss": NaN, "target_1": Infinity, "rrr": -Infinity})"));
  ASSERT_TRUE(d.has_value());
  EXPECT_TRUE(std::isnan((*d)["stop_loss"].get<double>()));
  EXPECT_EQ((*d)["target_1"].get<double>(), std::numeric_limits<double>::infinity());
  EXPECT_EQ((*d)["rrr"].get<double>(), -std::numeric_limits<double>::infinity());
}

TEST(ScanJsonBlock, BalancesBracesOutsideStrings) {
  const struct {
    std::string name;
    std::string text;
    std::optional<std::string> block;
  } rows[] = {
      {"braces and escaped quotes in strings", R"(x {"action": "a{b", "k": "q\"}{"} y)",
       R"({"action": "a{b", "k": "q\"}{"})"},
      {"earlier example block without action is skipped", R"({"a": 1} text {"action": 2})", R"({"action": 2})"},
      {"later of two qualifying blocks", R"({"action": 1} {"action": 2})", R"({"action": 2})"},
      {"nested block is never taken alone", R"({"outer": {"action": 1}})", R"({"outer": {"action": 1}})"},
      {"stray closing brace hides the following block", R"(} {"action": 1})", std::nullopt},
      {"block before a stray brace survives", R"({"action": 1} } {"action": 2})", R"({"action": 1})"},
      {"an unmatched opening brace restores the depth", R"(} { {"action": 3})", R"({"action": 3})"},
      {"unbalanced open gives nothing", R"({"action": 1)", std::nullopt},
      {"action must be in quotes", R"({action: 1})", std::nullopt},
      {"backslash outside strings has no effect", R"(\{"action": 1})", R"({"action": 1})"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(scan_json_block(row.text), row.block);
  }
}

TEST(ScanJsonBlock, InvalidUtf8IsReplacedInTheResult) {
  const auto block = scan_json_block("\xFF {\"action\": \"\xC3\"}");
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(*block, "{\"action\": \"\xEF\xBF\xBD\"}");
}

}  // namespace
}  // namespace quorvel::agent::schemas
