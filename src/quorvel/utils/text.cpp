#include "quorvel/utils/text.h"

#include <fmt/format.h>

#include "quorvel/utils/utf8_text.h"

namespace quorvel {

namespace {

constexpr unsigned char ESC = 0x1B, BEL = 0x07;
constexpr unsigned char CSI = 0x9B, ST = 0x9C;  // C1 controls, as code points U+009B / U+009C

unsigned char byte_at(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

bool in_range(std::string_view s, std::size_t i, unsigned char lo, unsigned char hi) {
  return i < s.size() && byte_at(s, i) >= lo && byte_at(s, i) <= hi;
}

// C1 controls that open a string running to a terminator: DCS, SOS, OSC, PM, APC.
bool opens_string(unsigned char c1) { return c1 == 0x90 || c1 == 0x98 || c1 == 0x9D || c1 == 0x9E || c1 == 0x9F; }

// Where the control sequence opened by C1 control `c1` ends, `j` being just past its introducer
// (the 8-bit byte, its UTF-8 encoding, or the 7-bit "ESC x" form). A CSI runs over its parameter
// and intermediate bytes to one final byte; a string runs to BEL or ST (ESC \, or U+009C encoded
// or raw), or to the end of the text when it is never closed. Other C1 controls stand alone.
std::size_t control_end(std::string_view s, std::size_t j, unsigned char c1) {
  if (c1 == CSI) {
    while (in_range(s, j, 0x30, 0x3F)) ++j;
    while (in_range(s, j, 0x20, 0x2F)) ++j;
    return in_range(s, j, 0x40, 0x7E) ? j + 1 : j;
  }
  if (!opens_string(c1)) return j;
  while (j < s.size()) {  // by code point, so that a continuation byte 0x9C of a character is no ST
    const unsigned char b = byte_at(s, j);
    if (b == BEL || b == ST) return j + 1;
    if (b == ESC && j + 1 < s.size() && s[j + 1] == '\\') return j + 2;
    if (decode_next(s, j) == ST) return j;
  }
  return j;
}

// Where the escape sequence starting with the ESC at s[i] ends. "ESC x" with x in 0x40-0x5F is the
// 7-bit form of C1 control x + 0x40; any other is intermediates (0x20-0x2F) and one final byte.
std::size_t escape_end(std::string_view s, std::size_t i) {
  if (in_range(s, i + 1, 0x40, 0x5F)) {
    return control_end(s, i + 2, static_cast<unsigned char>(byte_at(s, i + 1) + 0x40));
  }
  std::size_t j = i + 1;
  while (in_range(s, j, 0x20, 0x2F)) ++j;
  return in_range(s, j, 0x30, 0x7E) ? j + 1 : j;
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
    const unsigned char c = byte_at(s, i);
    if (c == ESC) {
      i = escape_end(s, i);
    } else if (c < 0x20 || c == 0x7F) {
      if (c == '\t' || c == '\n') out += s[i];
      ++i;
    } else if (c < 0x80) {
      out += s[i++];
    } else if (c == CSI) {
      i = control_end(s, i + 1, CSI);  // the 8-bit CSI of terminals that read raw C1 bytes
    } else {
      const std::size_t start = i;
      const char32_t cp = decode_next(s, i);
      if (cp >= 0x80 && cp <= 0x9F) {
        i = control_end(s, i, static_cast<unsigned char>(cp));
      } else if (cp == REPLACEMENT_CHARACTER) {
        append_utf8(out, cp);  // also for each ill-formed sequence, raw C1 bytes other than CSI included
      } else {
        out.append(s, start, i - start);
      }
    }
  }
  return out;
}

std::string percent_encoded(std::string_view text) {
  static constexpr char HEX[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (std::isalnum(b) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += HEX[b >> 4];
      out += HEX[b & 0xF];
    }
  }
  return out;
}

}  // namespace quorvel
