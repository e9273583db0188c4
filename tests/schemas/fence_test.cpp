#include "quorvel/agent/schemas/json_fence.h"

#include <memory>
#include <random>

#include <gtest/gtest.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace quorvel::agent::schemas {
namespace {

// The fence written in its plain lazy form, run with a backtracking engine: the reference the
// linear-time pattern must agree with.
class LazyFence {
 public:
  LazyFence() {
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>("```json\\s*\\n(.*?)\\n?\\s*```"), PCRE2_ZERO_TERMINATED,
                          PCRE2_UTF | PCRE2_UCP | PCRE2_DOTALL, &error, &offset, nullptr);
    match_ = pcre2_match_data_create_from_pattern(code_, nullptr);
  }
  ~LazyFence() {
    pcre2_match_data_free(match_);
    pcre2_code_free(code_);
  }
  std::optional<std::string> find(const std::string& text) const {
    const int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0, match_, nullptr);
    if (rc < 0) return std::nullopt;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(match_);
    return text.substr(ov[2], ov[3] - ov[2]);
  }

 private:
  pcre2_code* code_ = nullptr;
  pcre2_match_data* match_ = nullptr;
};

std::optional<std::string> fence(const std::string& text) {
  const auto v = find_json_fence(text);
  if (!v) return std::nullopt;
  return std::string(*v);
}

TEST(JsonFence, ContentBoundaries) {
  const struct {
    std::string name;
    std::string text;
    std::optional<std::string> content;
  } rows[] = {
      {"simple", "```json\n{}\n```", "{}"},
      {"content starts after the last line feed of the opening run", "```json \n\n  \n  {}\n```", "  {}"},
      {"trailing white space before the close is not content", "```json\n{\n}  \n\t ```", "{\n}"},
      {"first closing fence ends the content", "```json\n{a}\n```\n```json\n{b}\n```", "{a}"},
      {"backticks inside the content that are not a triple", "```json\n`x` ``y``\n```", "`x` ``y``"},
      {"empty content", "```json\n```", ""},
      {"four backticks close at the first three", "```json\nA````", "A"},
      {"label in upper case", "```JSON\n{}\n```", std::nullopt},
      {"text after the label", "```json {}\n```", std::nullopt},
      {"label followed by a word", "```jsonc\n{}\n```", std::nullopt},
      {"no closing fence", "```json\n{}", std::nullopt},
      {"a failed opening does not hide a later one", "```json x\n```json\n{}\n```", "{}"},
      {"later opening after a bad one", "```json x ```json\n{}\n```", "{}"},
      {"Unicode white space around", "```json\u3000\u2003\n\u3000{}\u2028```", "\u3000{}"},
  };
  LazyFence reference;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(fence(row.text), row.content);
    EXPECT_EQ(reference.find(row.text), row.content);
  }
}

TEST(JsonFence, AgreesWithTheLazyPatternOnRandomTexts) {
  const std::vector<std::string> pieces{"`", "```", "json", "JSON", "\n", " ", "\t", "\u3000", "\u2028", "x", "{",
                                        "}", "汉", "\r\n", "```json", "```json\n"};
  std::mt19937 rng(20250630);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1), length(0, 24);
  LazyFence reference;
  for (int i = 0; i < 30000; ++i) {
    std::string text;
    for (std::size_t n = length(rng); n > 0; --n) text += pieces[pick(rng)];
    ASSERT_EQ(fence(text), reference.find(text)) << "text: " << text;
  }
}

}  // namespace
}  // namespace quorvel::agent::schemas
