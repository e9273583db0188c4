#pragma once
// Filling a prompt template from named values. Pure functions; safe on any thread.
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvel::agent::prompts::vellumor {

// Fills `tmpl`: every placeholder "{name}" becomes the text of values[name], every "{{" becomes
// "{" and every "}}" becomes "}". Values are inserted literally: braces inside a value are never
// read as placeholders. A text value is inserted as it is; any other JSON value as compact JSON
// (a number as a JSON number, NaN and infinities as null). Members of `values` that the template
// does not use are ignored.
//
// Throws quorvel::TypeError when `values` is not a JSON object, and quorvel::ValueError naming the
// placeholder when a value is missing, or naming the position of a brace that is neither doubled
// nor part of a placeholder.
std::string render(std::string_view tmpl, const nlohmann::ordered_json& values);

// The placeholder names of `tmpl` in order of first appearance, each listed once. Doubled braces
// are literal text, not placeholders. Throws quorvel::ValueError for a stray brace, like render().
std::vector<std::string> placeholders(std::string_view tmpl);

}  // namespace quorvel::agent::prompts::vellumor
