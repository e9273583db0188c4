// Hostile replies: each must end in a result or a clean rejection, without deep recursion.
#include <random>

#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "quorvel/agent/schemas/extract.h"
#include "support/test_support.h"

namespace quorvel::agent::schemas {
namespace {

using quorvel::testing::LogCapture;

const std::string DECISION = R"({"action": "观望等待", "direction": "中性"})";

TEST(HostileReplies, DeepNestingIsRejectedCleanly) {
  LogCapture logs;  // parse failures are logged; keep them out of the test output
  const std::string braces = std::string(100000, '{') + std::string(100000, '}');
  const std::string brackets = std::string(100000, '[') + std::string(100000, ']');
  const std::string unbalanced = "{\"action\": " + std::string(100000, '[');
  EXPECT_FALSE(extract_decision_json(braces).has_value());
  EXPECT_FALSE(extract_decision_json("```json\n" + brackets + "\n```").has_value());
  EXPECT_FALSE(extract_decision_json(unbalanced).has_value());
  EXPECT_FALSE(extract_decision_json("{\"action\": 1, \"x\": " + brackets + "}").has_value());
  const std::string deep_value = "{\"action\": \"观望等待\", \"direction\": \"中性\", \"k\": " + std::string(400, '[') +
                                 std::string(400, ']') + "}";
  EXPECT_TRUE(extract_decision_json(deep_value).has_value());
}

TEST(HostileReplies, MegabyteRepliesAndLongRuns) {
  LogCapture logs;
  const std::string spaces(2'000'000, ' ');
  const std::string newlines(2'000'000, '\n');
  // Long white-space runs inside an unclosed fence: the classic quadratic trap of a lazy pattern.
  EXPECT_TRUE(extract_decision_json("```json\n" + spaces + "x" + DECISION).has_value());
  EXPECT_TRUE(extract_decision_json("```json" + newlines + DECISION).has_value());
  EXPECT_FALSE(extract_decision_json("```json\n" + spaces + "```").has_value());
  // Many backticks and quotes.
  EXPECT_TRUE(extract_decision_json(std::string(1'000'000, '`') + DECISION).has_value());
  // An odd number of quotes puts the decision inside a "string" for the scanner.
  EXPECT_FALSE(extract_decision_json(std::string(999'999, '"') + DECISION).has_value());
  EXPECT_TRUE(extract_decision_json(std::string(1'000'000, '"') + DECISION).has_value());
  // A long string of escapes inside the decision.
  std::string escapes;
  for (int i = 0; i < 200000; ++i) escapes += "\\\\\\\"\\u00e9";
  const auto d = extract_decision_json(R"({"action": "观望等待", "direction": "中性", "key_watch": ")" + escapes + "\"}");
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ((*d)["key_watch"].get<std::string>().size(), 200000u * 4);
  // Many keys, many duplicates.
  std::string keys = "{\"action\": \"观望等待\", \"direction\": \"中性\"";
  for (int i = 0; i < 200000; ++i) keys += ", \"k" + std::to_string(i % 50000) + "\": " + std::to_string(i);
  const auto many = extract_decision_json(keys + "}");
  ASSERT_TRUE(many.has_value());
  EXPECT_EQ(many->size(), 50002u);
  EXPECT_EQ((*many)["k0"], 150000);
}

TEST(HostileReplies, HugeNumbersAndNulBytes) {
  LogCapture logs;
  const std::string digits(5000, '9');
  EXPECT_FALSE(extract_decision_json(R"({"action": "建议买入", "direction": "看多", "stop_loss": )" + digits + "}"));
  const auto d = extract_decision_json(R"({"action": "建议买入", "direction": "看多", "stop_loss": "1e999999999"})");
  ASSERT_TRUE(d.has_value());
  EXPECT_TRUE(std::isinf((*d)["stop_loss"].get<double>()));
  std::string with_nul = "x";
  with_nul += '\0';
  with_nul += "{\"action\": \"观望等待\", \"direction\": \"中";
  with_nul += '\0';
  with_nul += "性\"}";
  with_nul += '\0';
  const auto n = extract_decision_json(with_nul);
  ASSERT_TRUE(n.has_value());  // NUL is a control character and is cleaned away
  EXPECT_EQ((*n)["direction"], "中性");
}

TEST(HostileReplies, RandomBytesNeverEscapeAsCrashes) {
  LogCapture logs;
  std::mt19937 rng(7);
  const std::string alphabet = "{}[]\"\\:,`json\n \t0123456789.eE-+NaInfity\xE6\xB1\x89\xFF\xC3";
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), length(0, 300);
  for (int i = 0; i < 5000; ++i) {
    std::string text = "{\"action\": \"观望等待\", \"direction\": ";
    for (std::size_t n = length(rng); n > 0; --n) text += alphabet[pick(rng)];
    try {
      (void)extract_decision_json(text);
    } catch (const quorvel::Error&) {
      // malformed content that reaches the caller is a clean rejection too
    }
  }
}

}  // namespace
}  // namespace quorvel::agent::schemas
