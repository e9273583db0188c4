#pragma once
// Pool files (watchlists): text, one instrument per line (UTF-8; a name or a comment in another
// ASCII-compatible encoding such as GBK is ignored like any other). The first field of a line (up to a
// comma, a full-width comma or white space) is the code; what follows (a name, a note) is ignored.
// Blank lines, lines starting with '#' and a leading UTF-8 byte-order mark are skipped.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel {

// The codes of the file in their canonical spelling (utils/instrument_code.h; a code with none is
// kept as written, for its own error later), in file order, each instrument once. A quorvel::ValueError that names the file (and the line,
// where one is at fault) and says what to do when the file cannot be read, is a directory, is
// UTF-16, holds NUL bytes (a binary file is not a watchlist), or has a code with a character a code
// cannot have (only ASCII letters, digits, '.', '-' and '_' are allowed).
std::vector<std::string> read_code_list(const std::filesystem::path& file);
// The same from the file's bytes, already read; `file` names it in the messages.
std::vector<std::string> parse_code_list(std::string_view bytes, const std::filesystem::path& file);

}  // namespace tarnel
