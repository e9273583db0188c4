#pragma once
// Short texts about dynamic JSON values for log lines and error messages.
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace quorvel::agent::schemas {

// Chinese name of the value's kind: 文本, 整数, 实数, 布尔值, null, 数组, 对象.
std::string kind_name(const nlohmann::ordered_json& value);

// A scalar as written in a message (texts quoted, reals in shortest form, True/False/None); arrays
// and objects as their kind and size. Texts longer than 80 code points are shortened with "...".
std::string value_text(const nlohmann::ordered_json& value);

}  // namespace quorvel::agent::schemas
