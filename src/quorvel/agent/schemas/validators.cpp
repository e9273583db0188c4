// The enumeration and buy-price-chain validators of a decision map.
#include <array>
#include <cstdint>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "quorvel/agent/schemas/decimal.h"
#include "quorvel/agent/schemas/decision.h"
#include "quorvel/agent/schemas/extract.h"
#include "quorvel/agent/schemas/value_text.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/text.h"

namespace quorvel::agent::schemas {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::array<std::string_view, 3> BUY_ACTIONS{"强烈买入", "建议买入", "谨慎买入"};

// The value under `key`, or nullptr when the key is absent or holds null.
const Json* present_value(const Json& map, std::string_view key) {
  const auto it = map.find(key);
  if (it == map.end() || it->is_null()) return nullptr;
  return &*it;
}

// {'高', '中', '低'}
std::string legal_set_text(DecisionEnum legal) {
  std::string out = "{";
  for (std::size_t i = 0; i < legal.size(); ++i) {
    if (i) out += ", ";
    out += quoted_text(legal[i]);
  }
  return out + "}";
}

void warn_illegal(std::string_view field, const Json& value, DecisionEnum legal) {
  constexpr std::string_view format = "决策枚举非法 | 字段=%s, 当前值=%r, 合法集合=%s";
  const std::string set = legal_set_text(legal);
  switch (value.type()) {
    case Json::value_t::string:
      logger.warning(format, field, value.get_ref<const std::string&>(), set);
      break;
    case Json::value_t::boolean:
      logger.warning(format, field, value.get<bool>(), set);
      break;
    case Json::value_t::number_integer:
      logger.warning(format, field, value.get<std::int64_t>(), set);
      break;
    default:  // reals, and integers beyond the signed 64-bit range
      logger.warning(format, field, value.get<double>(), set);
      break;
  }
}

// A chain price as a real; see validate_decision_price_chain for the reading rules.
double chain_price(const Json& map, std::string_view key) {
  const Json* v = present_value(map, key);
  if (!v) return 0.0;
  if (v->is_boolean()) return v->get<bool>() ? 1.0 : 0.0;
  if (v->is_number()) return v->get<double>();
  if (v->is_string()) {
    const auto& s = v->get_ref<const std::string&>();
    if (s.empty()) return 0.0;
    if (const auto parsed = parse_decimal(s)) return *parsed;
    throw quorvel::ValueError(fmt::format("决策价格字段 {} 不是数值: {}", key, value_text(*v)));
  }
  if (v->empty()) return 0.0;  // empty array or object
  throw quorvel::TypeError(fmt::format("决策价格字段 {} 应为数值，实际为{}", key, value_text(*v)));
}

}  // namespace

bool validate_decision_enums(const Json& decision_dict) {
  for (const auto& [field, legal] : DECISION_ENUM_VALID_MAP) {
    const Json* value = present_value(decision_dict, field);
    if (!value) continue;
    if (value->is_array() || value->is_object()) {
      throw quorvel::TypeError(
          fmt::format("决策字段 {} 的值是{}，无法判断是否属于合法集合 {}", field, kind_name(*value), legal_set_text(legal)));
    }
    if (value->is_string() && enum_contains(legal, value->get_ref<const std::string&>())) continue;
    warn_illegal(field, *value, legal);
    return false;
  }
  return true;
}

bool validate_decision_price_chain(const Json& decision_dict) {
  const Json* action = present_value(decision_dict, "action");
  if (!action || !action->is_string() || !enum_contains(BUY_ACTIONS, action->get_ref<const std::string&>())) {
    return true;
  }
  const double stop_loss = chain_price(decision_dict, "stop_loss");
  const double low = chain_price(decision_dict, "entry_price_low");
  const double high = chain_price(decision_dict, "entry_price_high");
  const double target_1 = chain_price(decision_dict, "target_1");
  const double target_2 = chain_price(decision_dict, "target_2");

  if (low > 0 && stop_loss > 0 && stop_loss >= low) {
    logger.warning("决策价格链违规 | stop_loss=%.3f >= entry_price_low=%.3f", stop_loss, low);
    return false;
  }
  if (low > 0 && high > 0 && low > high) {
    logger.warning("决策价格链违规 | entry_price_low=%.3f > entry_price_high=%.3f", low, high);
    return false;
  }
  if (high > 0 && target_1 > 0 && high >= target_1) {
    logger.warning("决策价格链违规 | entry_price_high=%.3f >= target_1=%.3f", high, target_1);
    return false;
  }
  if (target_1 > 0 && target_2 > 0 && target_1 >= target_2) {
    logger.warning("决策价格链违规 | target_1=%.3f >= target_2=%.3f", target_1, target_2);
    return false;
  }
  return true;
}

void normalize_decision_price_fields(Json& decision_dict) {
  if (!decision_dict.is_object()) return;
  for (std::string_view key : DECISION_PRICE_KEYS) {
    const auto it = decision_dict.find(key);
    if (it == decision_dict.end()) continue;
    Json& value = *it;
    if (value.is_number()) {
      value = round3(value.get<double>());
    } else if (value.is_string()) {
      const auto& s = value.get_ref<const std::string&>();
      if (const auto parsed = parse_decimal(s)) value = round3(*parsed);
    }
    // null, booleans, blank texts, non-numeric texts, arrays and objects stay as they are
  }
}

}  // namespace quorvel::agent::schemas
