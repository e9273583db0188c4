#include "quorvel/utils/text.h"

#include <fmt/format.h>

#include "quorvel/utils/utf8_text.h"

namespace quorvel {

namespace {

// Length of the escape sequence starting at s[i] (s[i] is ESC).
std::size_t escape_length(std::string_view s, std::size_t i) {
  if (i + 1 >= s.size()) return 1;
  const char kind = s[i + 1];
  std::size_t j = i + 2;
  if (kind == '[') {  // CSI: parameters and intermediates, then one final byte
    while (j < s.size() && static_cast<unsigned char>(s[j]) >= 0x20 && static_cast<unsigned char>(s[j]) <= 0x3F) ++j;
    while (j < s.size() && static_cast<unsigned char>(s[j]) >= 0x20 && static_cast<unsigned char>(s[j]) <= 0x2F) ++j;
    return (j < s.size() ? j + 1 : j) - i;
  }
  if (kind == ']' || kind == 'P' || kind == '_' || kind == '^' || kind == 'X') {  // strings up to BEL or ST
    while (j < s.size()) {
      if (s[j] == '\a') return j + 1 - i;
      if (s[j] == '\x1b' && j + 1 < s.size() && s[j + 1] == '\\') return j + 2 - i;
      ++j;
    }
    return j - i;
  }
  return 2;
}

}  // namespace

std::string trim_text(std::string_view s) { return std::string(trim_unicode_space(s)); }

std::string date_key(std::string_view analysis_time) {
  const std::string trimmed = trim_text(analysis_time.substr(0, analysis_time.find('_')));
  return std::string(prefix_code_points(trimmed, 10));
}

std::string quoted_text(std::string_view text) {
  const bool double_quoted = text.find('\'') != std::string_view::npos && text.find('"') == std::string_view::npos;
  const char quote = double_quoted ? '"' : '\'';
  std::string out(1, quote);
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == quote || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (b < 0x20 || b == 0x7F) {
      out += fmt::format("\\x{:02x}", b);
    } else {
      out += c;
    }
  }
  out += quote;
  return out;
}

std::string strip_terminal_controls(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == 0x1b) {
      i += escape_length(s, i);
    } else if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7f) {
      ++i;
    } else if (c == 0xc2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(s[i + 1]) <= 0x9f) {
      i += 2;  // C1 control U+0080-U+009F
    } else {
      out += s[i++];
    }
  }
  return out;
}

}  // namespace quorvel
