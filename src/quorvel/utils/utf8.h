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
