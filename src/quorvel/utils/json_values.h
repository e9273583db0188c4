#pragma once
// Conversions of dynamic values (members of a service's JSON result) to plain C++ values, with the
// loose rules a rule chain needs: any value has a truth value, numbers may arrive as numeric text,
// and a value of the wrong kind is an error that names the member.
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "contracts/errors.h"
#include "quorvel/utils/number_text.h"
#include "quorvel/utils/text.h"

namespace quorvel {

// false for null, false, 0, empty text, empty list or map; true otherwise.
inline bool truthy(const nlohmann::ordered_json& v) {
  if (v.is_boolean()) return v.get<bool>();
  if (v.is_number()) return v.get<double>() != 0.0;
  if (v.is_string()) return !v.get_ref<const std::string&>().empty();
  if (v.is_array() || v.is_object()) return !v.empty();
  return false;
}

// A number, a boolean (1.0 / 0.0) or a numeric text; a ValueError for other text, a TypeError for
// null, lists and maps. `what` names the member in the error.
inline double to_float(const nlohmann::ordered_json& v, std::string_view what) {
  if (v.is_boolean()) return v.get<bool>() ? 1.0 : 0.0;
  if (v.is_number()) return v.get<double>();
  if (v.is_string()) {
    const std::string text = trim_text(v.get_ref<const std::string&>());
    char* end = nullptr;
    errno = 0;
    const double x = text.empty() ? 0.0 : std::strtod(text.c_str(), &end);
    if (!text.empty() && end == text.c_str() + text.size() && errno != ERANGE) return x;
    throw ValueError(std::string(what) + " 不是数值: '" + v.get<std::string>() + "'");
  }
  throw TypeError(std::string(what) + " 必须是数值，实际为 " + v.type_name());
}

// Text as it is; null as empty text; booleans "True"/"False"; numbers as their number text; lists
// and maps as their JSON text.
inline std::string to_text(const nlohmann::ordered_json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_null()) return "";
  if (v.is_boolean()) return v.get<bool>() ? "True" : "False";
  if (v.is_number_integer()) return number_text(v.get<long long>());
  if (v.is_number()) return number_text(v.get<double>());
  return v.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// Optional members of a map, read without errors: the member, or a null value when `map` is no map
// or lacks it; a number member (`fallback` when absent or of another kind); a text member ("" then);
// a boolean member (false then).
inline const nlohmann::ordered_json& member_or_null(const nlohmann::ordered_json& map, std::string_view key) {
  static const nlohmann::ordered_json null_value;
  if (!map.is_object()) return null_value;
  const auto it = map.find(key);
  return it != map.end() ? *it : null_value;
}
inline double number_member(const nlohmann::ordered_json& map, std::string_view key,
                            double fallback = std::numeric_limits<double>::quiet_NaN()) {
  const auto& v = member_or_null(map, key);
  return v.is_number() ? v.get<double>() : fallback;
}
inline std::string text_member(const nlohmann::ordered_json& map, std::string_view key) {
  const auto& v = member_or_null(map, key);
  return v.is_string() ? v.get<std::string>() : std::string();
}
inline bool flag_member(const nlohmann::ordered_json& map, std::string_view key) {
  const auto& v = member_or_null(map, key);
  return v.is_boolean() && v.get<bool>();
}

}  // namespace quorvel
