#pragma once
// Reader for the decision JSON an LLM writes: standard JSON plus the bare words NaN, Infinity and
// -Infinity as numbers. Raw control characters inside strings and any non-blank text after the
// value are rejected; of a duplicated key the last value wins and keeps the first key's position.
// Parsing needs no recursion, and nesting deeper than MAX_JSON_DEPTH is rejected so that the
// resulting value can be copied and printed safely.
#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace quorvel::agent::schemas {

inline constexpr std::size_t MAX_JSON_DEPTH = 512;

struct JsonReadResult {
  nlohmann::ordered_json value;  // the document; null when reading failed
  std::string error;             // empty on success, else what is wrong and where (code point offset)
  bool ok() const { return error.empty(); }
};

// Reads `text` (well-formed UTF-8) as one JSON document.
JsonReadResult read_decision_json(std::string_view text);

}  // namespace quorvel::agent::schemas
