#include "quorvel/utils/utf8_text.h"

#include <unicode/uchar.h>

namespace quorvel {

namespace {

constexpr bool is_trail(unsigned char b) { return (b & 0xC0) == 0x80; }

// Accepted range of the second byte after lead byte `lead` (Unicode well-formed byte sequences).
constexpr void second_byte_range(unsigned char lead, unsigned char& lo, unsigned char& hi) {
  lo = 0x80;
  hi = 0xBF;
  if (lead == 0xE0) lo = 0xA0;
  if (lead == 0xED) hi = 0x9F;
  if (lead == 0xF0) lo = 0x90;
  if (lead == 0xF4) hi = 0x8F;
}

// Byte length announced by a lead byte, or 0 when it cannot start a well-formed sequence.
constexpr int sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

char32_t decode_next(std::string_view bytes, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(bytes[pos]);
  const int len = sequence_length(lead);
  if (len == 1) {
    ++pos;
    return lead;
  }
  if (len == 0) {
    ++pos;
    return REPLACEMENT_CHARACTER;
  }
  char32_t cp = lead & (0xFF >> (len + 1));
  std::size_t i = pos + 1;
  for (int k = 1; k < len; ++k, ++i) {
    if (i >= bytes.size()) break;
    const auto b = static_cast<unsigned char>(bytes[i]);
    unsigned char lo = 0x80, hi = 0xBF;
    if (k == 1) second_byte_range(lead, lo, hi);
    if (b < lo || b > hi) break;
    cp = (cp << 6) | (b & 0x3F);
    if (k == len - 1) {
      pos = i + 1;
      return cp;
    }
  }
  pos = i;  // maximal well-formed prefix consumed, at least the lead byte
  return REPLACEMENT_CHARACTER;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool is_valid_utf8(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    const char32_t cp = decode_next(bytes, pos);
    // A genuine U+FFFD is three bytes long; a replacement for an ill-formed sequence is not, or its
    // bytes differ from EF BF BD.
    if (cp == REPLACEMENT_CHARACTER && bytes.substr(start, pos - start) != "\xEF\xBF\xBD") return false;
  }
  return true;
}

std::string_view ensure_valid_utf8(std::string_view bytes, std::string& storage) {
  if (is_valid_utf8(bytes)) return bytes;
  storage.clear();
  storage.reserve(bytes.size() + bytes.size() / 2);
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[pos]);
    if (b < 0x80) {
      storage += static_cast<char>(b);
      ++pos;
      continue;
    }
    append_utf8(storage, decode_next(bytes, pos));
  }
  return storage;
}

std::size_t count_code_points(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) n += !is_trail(static_cast<unsigned char>(c));
  return n;
}

std::string_view prefix_code_points(std::string_view text, std::size_t n) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (is_trail(static_cast<unsigned char>(text[i]))) continue;
    if (seen == n) return text.substr(0, i);
    ++seen;
  }
  return text;
}

std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t cp = decode_next(text, pos);
    const int eaw = u_getIntPropertyValue(UChar32(cp), UCHAR_EAST_ASIAN_WIDTH);
    width += (eaw == U_EA_WIDE || eaw == U_EA_FULLWIDTH) ? 2 : 1;
  }
  return width;
}

bool is_printable(char32_t cp) {
  if (cp == 0x20) return true;
  if (cp < 0x7F) return cp > 0x20;
  switch (u_charType(static_cast<UChar32>(cp))) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_SPACE_SEPARATOR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return false;
    default:
      return true;
  }
}

std::string clean_decision_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) {
      if ((b >= 0x20 && b < 0x7F) || b == '\n' || b == '\r' || b == '\t') out += static_cast<char>(b);
      ++pos;
      continue;
    }
    const std::size_t start = pos;
    const char32_t cp = decode_next(text, pos);
    if (is_printable(cp)) out.append(text.substr(start, pos - start));
  }
  return out;
}

bool is_unicode_space(char32_t cp) {
  if (cp <= 0x20) return (cp >= 0x09 && cp <= 0x0D) || (cp >= 0x1C && cp <= 0x20);
  if (cp == 0x85 || cp == 0xA0 || cp == 0x1680 || cp == 0x202F || cp == 0x205F || cp == 0x3000) return true;
  return (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029;
}

std::string_view trim_unicode_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t next = begin;
    if (!is_unicode_space(decode_next(text, next))) break;
    begin = next;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && is_trail(static_cast<unsigned char>(text[start]))) --start;
    std::size_t next = start;
    if (!is_unicode_space(decode_next(text, next)) || next != end) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

}  // namespace quorvel
