#include "quorvel/agent/prompts/vellumor/render.h"

#include <cmath>
#include <limits>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "contracts/errors.h"

namespace {

using nlohmann::ordered_json;
using quorvel::agent::prompts::vellumor::placeholders;
using quorvel::agent::prompts::vellumor::render;

TEST(Render, ReplacesPlaceholdersAndUndoublesBraces) {
  const ordered_json values{{"code", "sh.600000"}, {"price", 10.5}};
  EXPECT_EQ(render("{{\"c\": \"{code}\", \"p\": {price}}}", values),
            "{\"c\": \"sh.600000\", \"p\": 10.5}");
}

TEST(Render, RendersBraceRuns) {
  struct Row {
    const char* tmpl;
    const char* expected;
  };
  const Row rows[] = {
      {"{{{a}}}", "{1}"},
      {"{{a}}", "{a}"},
      {"{{{{", "{{"},
      {"}}{a}{{", "}1{"},
      {"", ""},
      {"no braces", "no braces"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.tmpl);
    EXPECT_EQ(render(row.tmpl, ordered_json{{"a", 1}}), row.expected);
  }
}

TEST(Render, InsertsValuesLiterally) {
  const ordered_json values{{"a", "{b} and {{x}} }"}, {"b", "never used"}};
  EXPECT_EQ(render("<{a}>", values), "<{b} and {{x}} }>");
}

TEST(Render, WritesNonTextValuesAsJson) {
  struct Row {
    ordered_json value;
    const char* expected;
  };
  const Row rows[] = {
      {25.95, "25.95"},
      {1520, "1520"},
      {-0.5, "-0.5"},
      {true, "true"},
      {nullptr, "null"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {ordered_json::array({1, 2}), "[1, 2]"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(render("{v}", ordered_json{{"v", row.value}}), row.expected);
  }
}

TEST(Render, MissingValueNamesThePlaceholder) {
  try {
    render("{stock_code} {stock_name}", ordered_json{{"stock_code", "x"}});
    FAIL() << "expected a ValueError";
  } catch (const quorvel::ValueError& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("{stock_name}"));
  }
}

TEST(Render, IgnoresUnusedValues) {
  EXPECT_EQ(render("{a}", ordered_json{{"a", "1"}, {"zzz", "2"}}), "1");
}

TEST(Render, RejectsValuesThatAreNoObject) {
  EXPECT_THROW(render("{a}", ordered_json::array({"a"})), quorvel::TypeError);
  EXPECT_THROW(render("plain", ordered_json("a")), quorvel::TypeError);
}

TEST(Render, RejectsStrayBraces) {
  const char* rows[] = {"a { b", "a } b", "{1x}", "{}", "{name", "{na-me}", "end {", "{{a}"};
  for (const char* tmpl : rows) {
    SCOPED_TRACE(tmpl);
    EXPECT_THROW(render(tmpl, ordered_json{{"a", 1}, {"name", 1}, {"na", 1}}), quorvel::ValueError);
    EXPECT_THROW(placeholders(tmpl), quorvel::ValueError);
  }
}

TEST(Placeholders, ListsNamesOnceInOrderOfFirstAppearance) {
  EXPECT_THAT(placeholders("{b} {a} {{c}} {b} {_x1}"), ::testing::ElementsAre("b", "a", "_x1"));
  EXPECT_TRUE(placeholders("{{not_a_placeholder}}").empty());
}

}  // namespace
