#pragma once
// Small text helpers shared across the libraries.
#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace quorvel {

// Without leading and trailing white space, Unicode's included (a text of ideographic spaces
// U+3000 or no-break spaces alone is empty).
std::string trim_text(std::string_view s);

// ASCII letters upper-cased; other bytes (UTF-8 included) unchanged.
inline std::string upper_ascii(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
  return s;
}

inline std::string lower_ascii(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

// The date part of an analysis time as caches, report rows and file names key it: the text before
// the first "_", trimmed, at most 10 characters (code points, never half a character).
// "2026-05-02", "2026-05-02_1500" and "2026-05-02 15:00:00" all give "2026-05-02"; "" stays "".
std::string date_key(std::string_view analysis_time);

// A text in quotes as a value is printed in messages and logs, escaped so that it stays on one line:
// single quotes unless the text holds a single quote and no double quote; backslash, the quote,
// \n, \r, \t and other control characters are escaped.
std::string quoted_text(std::string_view text);

// Text made safe to print on a terminal and to store: escape sequences are removed whole (CSI
// "ESC [ ... final", the strings OSC "ESC ] ... BEL or ESC \\" and DCS/SOS/PM/APC, other ESC
// sequences), and so are the C0 control characters except tab and line feed (carriage return
// goes too), DEL and the C1 controls U+0080-U+009F, the 8-bit CSI with its parameters in UTF-8 or
// as a raw 0x9B byte. Other bytes that are not well-formed UTF-8 become U+FFFD. Everything else,
// UTF-8 text included, is kept byte for byte. For text from outside use outside_text
// (outside_text.h), which also masks secrets.
std::string strip_terminal_controls(std::string_view s);

// `text` as it travels inside a URL or a form body: every byte other than the unreserved ones
// (letters, digits, "-", "_", ".", "~") as %XX with upper-case hex digits.
std::string percent_encoded(std::string_view text);

}  // namespace quorvel
