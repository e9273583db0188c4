#include "quorvel/agent/schemas/value_text.h"

#include <fmt/format.h>

#include "quorvel/utils/utf8_text.h"
#include "quorvel/utils/number_text.h"
#include "quorvel/utils/text.h"

namespace quorvel::agent::schemas {

std::string kind_name(const nlohmann::ordered_json& value) {
  if (value.is_string()) return "文本";
  if (value.is_number_integer()) return "整数";
  if (value.is_number_float()) return "实数";
  if (value.is_boolean()) return "布尔值";
  if (value.is_null()) return "null";
  if (value.is_array()) return "数组";
  return "对象";
}

std::string value_text(const nlohmann::ordered_json& value) {
  switch (value.type()) {
    case nlohmann::ordered_json::value_t::string: {
      const auto& s = value.get_ref<const std::string&>();
      const std::string_view head = prefix_code_points(s, 80);
      return head.size() == s.size() ? quoted_text(s) : quoted_text(head) + "...";
    }
    case nlohmann::ordered_json::value_t::number_integer:
      return std::to_string(value.get<std::int64_t>());
    case nlohmann::ordered_json::value_t::number_unsigned:
      return std::to_string(value.get<std::uint64_t>());
    case nlohmann::ordered_json::value_t::number_float:
      return quorvel::number_text(value.get<double>());
    case nlohmann::ordered_json::value_t::boolean:
      return value.get<bool>() ? "True" : "False";
    case nlohmann::ordered_json::value_t::array:
      return fmt::format("数组（{} 个元素）", value.size());
    case nlohmann::ordered_json::value_t::object:
      return fmt::format("对象（{} 个键）", value.size());
    default:
      return "None";
  }
}

}  // namespace quorvel::agent::schemas
