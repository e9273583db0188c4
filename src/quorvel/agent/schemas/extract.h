#pragma once
// Extraction and validation of the decision JSON from the free text of an LLM reply.
//
// All operations are stateless and may run on any thread; the normaliser and the extractor modify
// only the map they are given or create. Positions and lengths count Unicode code points. Reply
// bytes that are not valid UTF-8 are decoded with U+FFFD replacement characters.
//
// Rejections return nothing (or false) and log the reason; two kinds of malformed content throw
// instead (see validate_decision_enums and validate_decision_price_chain).
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace quorvel::agent::schemas {

// The validated, price-normalised decision map found in `raw_content`, or nothing when the reply
// holds no acceptable decision. Throws what the two validators below throw.
std::optional<nlohmann::ordered_json> extract_decision_json(std::string_view raw_content);

// The last top-level brace-balanced block of `raw_text` that contains the text "action" in double
// quotes (braces inside JSON strings are ignored), or nothing.
std::optional<std::string> scan_json_block(std::string_view raw_text);

// True when every present categorical value is legal; logs the first illegal one. Throws
// quorvel::TypeError when a categorical field holds an array or an object.
bool validate_decision_enums(const nlohmann::ordered_json& decision_dict);

// Replaces, in place, each price value that is a number or a numeric text by the real rounded to
// three decimals (ties to even on the exact binary value). Other values are left as they are.
void normalize_decision_price_fields(nlohmann::ordered_json& decision_dict);

// True when the buy prices of a buy decision ascend (stop_loss < entry_price_low <= entry_price_high
// < target_1 < target_2, zero prices skipped); logs the first broken rule. Throws quorvel::ValueError
// (non-numeric text) or quorvel::TypeError (non-empty array or object) for an unreadable price of a
// buy decision.
bool validate_decision_price_chain(const nlohmann::ordered_json& decision_dict);

}  // namespace quorvel::agent::schemas
