#pragma once
// Small text helpers shared across the libraries.
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace quorvel {

// Without leading and trailing ASCII white space.
inline std::string trim_text(std::string_view s) {
  const auto b = s.find_first_not_of(" \t\r\n\f\v");
  if (b == std::string_view::npos) return "";
  return std::string(s.substr(b, s.find_last_not_of(" \t\r\n\f\v") - b + 1));
}

// ASCII letters upper-cased; other bytes (UTF-8 included) unchanged.
inline std::string upper_ascii(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
  return s;
}

}  // namespace quorvel
