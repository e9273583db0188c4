#include "quorvel/agent/prompts/vellumor/render.h"

#include <algorithm>
#include <functional>

#include "contracts/errors.h"
#include "quorvel/utils/json_text.h"

namespace quorvel::agent::prompts::vellumor {
namespace {

bool is_name_start(char c) { return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_name_char(char c) { return is_name_start(c) || (c >= '0' && c <= '9'); }

[[noreturn]] void stray_brace(std::string_view tmpl, std::size_t pos) {
  const std::size_t from = pos < 20 ? 0 : pos - 20;
  throw ValueError("模板在第 " + std::to_string(pos) + " 字节处有未成对的花括号 '" +
                   std::string(1, tmpl[pos]) + "'（附近文本：" +
                   std::string(tmpl.substr(from, 40)) + "）；字面花括号须写成 {{ 或 }}");
}

// Walks `tmpl` once: literal text goes to `on_text`, each placeholder name to `on_name`.
void scan(std::string_view tmpl, const std::function<void(std::string_view)>& on_text,
          const std::function<void(std::string_view)>& on_name) {
  std::size_t i = 0;
  std::size_t text_start = 0;
  auto flush = [&](std::size_t end) {
    if (end > text_start) on_text(tmpl.substr(text_start, end - text_start));
  };
  while (i < tmpl.size()) {
    const char c = tmpl[i];
    if (c != '{' && c != '}') {
      ++i;
      continue;
    }
    flush(i);
    if (i + 1 < tmpl.size() && tmpl[i + 1] == c) {  // doubled brace: one literal brace
      on_text(tmpl.substr(i, 1));
      i += 2;
    } else if (c == '{') {
      std::size_t j = i + 1;
      if (j < tmpl.size() && is_name_start(tmpl[j])) {
        while (j < tmpl.size() && is_name_char(tmpl[j])) ++j;
      }
      if (j == i + 1 || j >= tmpl.size() || tmpl[j] != '}') stray_brace(tmpl, i);
      on_name(tmpl.substr(i + 1, j - i - 1));
      i = j + 1;
    } else {
      stray_brace(tmpl, i);
    }
    text_start = i;
  }
  flush(tmpl.size());
}

std::string value_text(const nlohmann::ordered_json& value) {
  if (value.is_string()) return value.get<std::string>();
  return safe_json_dumps(value);
}

}  // namespace

std::string render(std::string_view tmpl, const nlohmann::ordered_json& values) {
  if (!values.is_object()) {
    throw TypeError(std::string("render: values 须为 JSON 对象（键为占位符名），实际为 ") +
                    values.type_name());
  }
  std::string out;
  out.reserve(tmpl.size());
  scan(
      tmpl, [&](std::string_view text) { out.append(text); },
      [&](std::string_view name) {
        const auto it = values.find(std::string(name));
        if (it == values.end()) {
          throw ValueError("模板占位符 {" + std::string(name) + "} 缺少取值，请在 values 中提供键 \"" +
                           std::string(name) + "\"");
        }
        out += value_text(*it);
      });
  return out;
}

std::vector<std::string> placeholders(std::string_view tmpl) {
  std::vector<std::string> names;
  scan(
      tmpl, [](std::string_view) {},
      [&](std::string_view name) {
        if (std::find(names.begin(), names.end(), name) == names.end()) names.emplace_back(name);
      });
  return names;
}

}  // namespace quorvel::agent::prompts::vellumor
