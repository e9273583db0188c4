#include "quorvel/agent/solvara/brief_prompt.h"

#include <cctype>

namespace quorvel::agent::solvara {

std::string fill_template(const std::string& tmpl, const std::map<std::string, std::string>& values) {
  std::string out;
  out.reserve(tmpl.size() * 2);
  std::size_t i = 0;
  while (i < tmpl.size()) {
    if (tmpl[i] == '{') {
      std::size_t j = i + 1;
      while (j < tmpl.size() && (std::isalnum(static_cast<unsigned char>(tmpl[j])) || tmpl[j] == '_')) ++j;
      if (j < tmpl.size() && tmpl[j] == '}' && j > i + 1) {
        const auto it = values.find(tmpl.substr(i + 1, j - i - 1));
        if (it != values.end()) {
          out += it->second;
          i = j + 1;
          continue;
        }
      }
    }
    out += tmpl[i++];
  }
  return out;
}

}  // namespace quorvel::agent::solvara
