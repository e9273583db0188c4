#pragma once
// A member of a JSON record as a reader sees it in a digest or a push: "-" when missing or null,
// texts cleaned of what they must not carry (outside_text.h), numbers in their shortest form.
#include <string>

#include <nlohmann/json.hpp>

#include "quorvel/utils/number_text.h"
#include "quorvel/utils/outside_text.h"

namespace quorvel {

inline std::string shown_member(const nlohmann::ordered_json& j, const char* key) {
  const auto it = j.find(key);
  if (it == j.end() || it->is_null()) return "-";
  if (it->is_string()) return outside_text(it->get<std::string>());
  if (it->is_number_integer()) return std::to_string(it->get<long long>());
  if (it->is_number()) return number_text(it->get<double>());
  return outside_text(it->dump());
}

}  // namespace quorvel
