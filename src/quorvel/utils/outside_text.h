#pragma once
// Text that came from outside the process, made safe to print, log and store.
//
// Outside text is whatever this program did not write itself: LLM replies and the bodies of the
// provider's error answers, codes and names read from pool files and the ETF universe file,
// instrument names and messages of market-data providers. On its way to a terminal, a log line, a
// report file, the database or the message queue it passes through `outside_text`, which
//   - removes escape sequences and control characters other than line feed and tab, and replaces
//     bytes that are not well-formed UTF-8 by U+FFFD (strip_terminal_controls, text.h);
//   - masks secrets: every registered secret, and the value of any Authorization header or field
//     ("Authorization: Bearer sk-...", "authorization":"Basic ..."), become "***".
// Secrets are masked after the controls are removed, so that an escape sequence inside a key does
// not hide it.
//
// Secrets are registered where the program reads them: the LLM API key where the provider
// configuration is resolved. The registry lives for the whole process and is thread-safe:
// analyses on several threads filter their texts while another thread may register a key.
#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>
#include <string_view>

namespace quorvel {

// Secrets shorter than this are not registered: masking every occurrence of a short word would
// mangle ordinary text, and real credentials are far longer.
inline constexpr std::size_t MIN_SECRET_BYTES = 6;

// Adds `secret` to the process-wide registry; empty, short and already registered ones are ignored.
void register_secret(std::string secret);

// `text` with every registered secret and every Authorization value replaced by "***".
std::string mask_secrets(std::string_view text);

// `text` without terminal controls, with U+FFFD for ill-formed UTF-8, and with secrets masked.
std::string outside_text(std::string_view text);

// `value` with every text in it, at any depth, passed through outside_text: a record that quotes
// codes, names, model output or errors, printed as JSON.
nlohmann::ordered_json outside_json(const nlohmann::ordered_json& value);

}  // namespace quorvel
