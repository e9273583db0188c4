#include "quorvel/utils/json_text.h"

#include <cmath>

namespace quorvel {

namespace {

using Json = nlohmann::ordered_json;

void write(const Json& v, bool ascii, const std::optional<int>& indent, int depth, std::string& out) {
  const auto newline = [&](int level) {
    out += '\n';
    out.append(std::size_t(*indent * level), ' ');
  };
  if (v.is_object() || v.is_array()) {
    const bool obj = v.is_object();
    out += obj ? '{' : '[';
    if (v.empty()) {
      out += obj ? '}' : ']';
      return;
    }
    bool first = true;
    for (auto it = v.begin(); it != v.end(); ++it) {
      if (!first) out += indent ? "," : ", ";
      first = false;
      if (indent) newline(depth + 1);
      if (obj) {
        out += Json(it.key()).dump(-1, ' ', ascii, Json::error_handler_t::replace);
        out += ": ";
      }
      write(*it, ascii, indent, depth + 1, out);
    }
    if (indent) newline(depth);
    out += obj ? '}' : ']';
    return;
  }
  if (v.is_number_float() && !std::isfinite(v.get<double>())) {
    out += "null";
    return;
  }
  out += v.dump(-1, ' ', ascii, Json::error_handler_t::replace);
}

}  // namespace

std::string safe_json_dumps(const nlohmann::ordered_json& value, bool ensure_ascii, std::optional<int> indent) {
  std::string out;
  write(value, ensure_ascii, indent, 0, out);
  return out;
}

}  // namespace quorvel
