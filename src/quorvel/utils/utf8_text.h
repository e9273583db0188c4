#pragma once
// UTF-8 text: decoding with replacement characters, counting and slicing by code point, display
// width on a terminal, Unicode white space, and the removal of invisible characters from text
// that came from outside (an LLM reply). Character properties come from ICU. Thread-safe.
#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Decodes the code point at byte `pos` of `bytes` and moves `pos` past it. An ill-formed sequence
// decodes to U+FFFD and advances by its maximal well-formed prefix (at least one byte), so every
// byte string decodes without error. Precondition: pos < bytes.size().
char32_t decode_next(std::string_view bytes, std::size_t& pos);

// Appends the UTF-8 encoding of `cp` (a Unicode scalar value) to `out`.
void append_utf8(std::string& out, char32_t cp);

// True when `bytes` is well-formed UTF-8 (no surrogates, no overlong forms).
bool is_valid_utf8(std::string_view bytes);

// `bytes` itself when it is well-formed UTF-8; otherwise a copy decoded with U+FFFD replacements,
// written into `storage`, which the returned view then refers to.
std::string_view ensure_valid_utf8(std::string_view bytes, std::string& storage);

// Number of code points (continuation bytes are not counted).
std::size_t count_code_points(std::string_view text);

// The first `n` code points (all of the text when shorter); never cuts inside a character.
std::string_view prefix_code_points(std::string_view text, std::size_t n);

// Columns a terminal gives the text: two for East Asian wide and full-width characters, one for
// the rest.
std::size_t display_width(std::string_view text);

// True for characters that count as printable: everything except the general categories Cc, Cf,
// Cs, Co, Cn, Zs, Zl and Zp; the ordinary space U+0020 is printable.
bool is_printable(char32_t cp);

// Keeps, in order, the printable characters and line feed, carriage return and tab of well-formed
// UTF-8 text; drops zero-width characters, byte-order marks, no-break and ideographic spaces,
// line/paragraph separators and all other control characters.
std::string clean_decision_text(std::string_view text);

// White space as trimmed from numeric texts: tab to carriage return, U+001C-U+001F, space, U+0085,
// U+00A0 and the Unicode space, line and paragraph separators.
bool is_unicode_space(char32_t cp);

// `text` without leading and trailing Unicode white space.
std::string_view trim_unicode_space(std::string_view text);

}  // namespace quorvel
