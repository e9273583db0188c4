#include "quorvel/agent/schemas/extract.h"

#include "quorvel/agent/schemas/json_fence.h"
#include "quorvel/agent/schemas/json_reader.h"
#include "quorvel/agent/schemas/value_text.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::agent::schemas {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t LOG_PREFIX_CODE_POINTS = 300;

// One left-to-right pass over well-formed UTF-8 text. Every character the scan reacts to is ASCII,
// and ASCII bytes never occur inside a multi-byte sequence, so walking bytes is walking characters.
std::optional<std::string_view> scan_block(std::string_view text) {
  std::optional<std::string_view> matched;
  long long depth = 0;  // deliberately unclamped: a stray '}' drives it below zero
  std::size_t start = 0;
  bool has_start = false;
  bool in_string = false;
  bool escaped = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (escaped) {
      escaped = false;
    } else if (c == '\\' && in_string) {
      escaped = true;
    } else if (c == '"') {
      in_string = !in_string;
    } else if (in_string) {
      // ordinary string content
    } else if (c == '{') {
      if (depth == 0) {
        start = i;
        has_start = true;
      }
      ++depth;
    } else if (c == '}') {
      --depth;
      if (depth == 0 && has_start) {
        const std::string_view block = text.substr(start, i - start + 1);
        if (block.find("\"action\"") != std::string_view::npos) matched = block;
        has_start = false;
      }
    }
  }
  return matched;
}

// The keys of an object as a bracketed list of quoted texts: ['stock_code', 'action'].
std::string key_list(const Json& object) {
  std::string out = "[";
  bool first = true;
  for (const auto& [key, value] : object.items()) {
    if (!first) out += ", ";
    first = false;
    out += quoted_text(key);
  }
  return out + "]";
}

}  // namespace

std::optional<std::string> scan_json_block(std::string_view raw_text) {
  std::string storage;
  const auto block = scan_block(ensure_valid_utf8(raw_text, storage));
  if (!block) return std::nullopt;
  return std::string(*block);
}

std::optional<Json> extract_decision_json(std::string_view raw_content) {
  if (raw_content.empty()) return std::nullopt;
  std::string storage;
  const std::string_view text = ensure_valid_utf8(raw_content, storage);

  std::optional<std::string_view> candidate = find_json_fence(text);
  if (!candidate) candidate = scan_block(text);
  if (!candidate || candidate->empty()) return std::nullopt;

  const std::string cleaned = clean_decision_text(*candidate);
  JsonReadResult parsed = read_decision_json(cleaned);
  if (!parsed.ok()) {
    logger.warning("决策 JSON 解析失败 | 错误=%s | 长度=%d | 原始前缀=%s", parsed.error,
                   static_cast<long long>(count_code_points(cleaned)),
                   prefix_code_points(cleaned, LOG_PREFIX_CODE_POINTS));
    return std::nullopt;
  }
  Json decision = std::move(parsed.value);
  if (!decision.is_object()) return std::nullopt;
  if (!decision.contains("action") || !decision.contains("direction")) {
    if (logger.enabled(LogLevel::debug)) logger.debug("决策 JSON 缺失核心字段 action/direction: %s", key_list(decision));
    return std::nullopt;
  }
  if (!validate_decision_enums(decision)) return std::nullopt;
  normalize_decision_price_fields(decision);
  if (!validate_decision_price_chain(decision)) return std::nullopt;
  return decision;
}

}  // namespace quorvel::agent::schemas
