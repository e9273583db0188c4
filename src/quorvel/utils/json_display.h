#pragma once
// Members of a JSON record as code and readers use them. shown_member: as a reader sees it in a digest or a push: "-" when missing or null,
// texts cleaned of what they must not carry (outside_text.h), numbers in their shortest form.
#include <string>

#include <nlohmann/json.hpp>

#include "quorvel/utils/number_text.h"
#include "quorvel/utils/outside_text.h"

namespace quorvel {

// The member's text when it is a string; "" otherwise (missing, null, another type, `j` not an object).
inline std::string string_member(const nlohmann::ordered_json& j, const char* key) {
  const auto it = j.is_object() ? j.find(key) : j.end();
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

inline std::string shown_member(const nlohmann::ordered_json& j, const char* key) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return "-";
  if (it->is_string()) return outside_text(it->get<std::string>());
  if (it->is_number_integer()) return std::to_string(it->get<long long>());
  if (it->is_number()) return number_text(it->get<double>());
  return outside_text(it->dump());
}

}  // namespace quorvel
