#pragma once
// Counting and cutting UTF-8 text by characters (code points) rather than bytes.
#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// Number of code points (continuation bytes are not counted).
inline std::size_t utf8_length(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// The first `n` code points; never cuts inside a character.
inline std::string utf8_prefix(std::string_view s, std::size_t n) {
  std::size_t i = 0, count = 0;
  while (i < s.size() && count < n) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    ++count;
  }
  return std::string(s.substr(0, i));
}

}  // namespace quorvel

namespace quorvel {

// Columns a terminal gives the text: two for East Asian wide characters (CJK ideographs, full-width
// forms, Hangul), one for the rest.
inline std::size_t utf8_display_width(std::string_view s) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = len == 1 ? c : c & (0x3F >> (len - 1));
    for (int k = 1; k < len && i + std::size_t(k) < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    width += wide ? 2 : 1;
    i += std::size_t(len);
  }
  return width;
}

}  // namespace quorvel
