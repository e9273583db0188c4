#pragma once
// Locates the decision object fenced as a json code block in Markdown.
#include <optional>
#include <string_view>

namespace quorvel::agent::schemas {

// The content of the first block fenced with three backticks and the lower-case label json: the
// label must be followed by white space (Unicode sense) that ends in a line feed; the content runs
// from after the last line feed of that white space to the white space before the first closing
// three backticks. Nothing when there is no such block. `text` must be well-formed UTF-8; the
// result refers into it. Runs in time linear in the length of `text`.
std::optional<std::string_view> find_json_fence(std::string_view text);

}  // namespace quorvel::agent::schemas
