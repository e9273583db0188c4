#pragma once
// JSON text of dynamic values, in the layout of the conventional JSON writer: ", " and ": "
// separators on one line, or one member per line with `indent` spaces. NaN and infinities become
// null, so the text is always valid JSON.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace quorvel {

std::string safe_json_dumps(const nlohmann::ordered_json& value, bool ensure_ascii = false,
                            std::optional<int> indent = std::nullopt);

}  // namespace quorvel
