#pragma once
// The decision record an analysis message carries: the LLM reply's decision JSON, validated and
// put into its 23-field order. Kept apart from the rest of the store because it is the one place
// that depends on the decision schema library.
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace quorvel::report {

// The validated decision of an analysis reply, or nullopt when the reply holds none or the one it
// holds is invalid (logged at warning level with the reason). Never throws.
std::optional<nlohmann::ordered_json> decision_from_analysis(std::string_view content);

}  // namespace quorvel::report
