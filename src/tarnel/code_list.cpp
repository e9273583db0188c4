#include "tarnel/code_list.h"

#include <cstdint>
#include <fstream>
#include <set>
#include <string_view>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "quorvel/utils/instrument_code.h"
#include "quorvel/utils/utf8_text.h"

namespace tarnel {

namespace {

// A watchlist of every listed instrument of every market is well under a megabyte; anything much
// larger is not a watchlist, and an endless source (/dev/zero) must not exhaust the memory.
constexpr std::size_t MAX_POOL_BYTES = std::size_t{16} << 20;
constexpr std::size_t QUOTED_FIELD_CHARS = 40;

bool is_separator(char32_t cp) {
  return cp == ',' || cp == U'\uFF0C' || cp == U'\u3000' || cp == ' ' || (cp >= '\t' && cp <= '\r');
}

bool is_code_char(char32_t cp) {
  return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') || (cp >= '0' && cp <= '9') || cp == '.' ||
         cp == '-' || cp == '_';
}

// The first field of a line; empty for a blank line. Ill-formed bytes decode to U+FFFD, which is no
// separator and no code character.
std::string_view first_field(std::string_view line) {
  std::size_t pos = 0, begin = std::string_view::npos;
  while (pos < line.size()) {
    const std::size_t at = pos;
    if (!is_separator(quorvel::decode_next(line, pos))) {
      if (begin == std::string_view::npos) begin = at;
    } else if (begin != std::string_view::npos) {
      return line.substr(begin, at - begin);
    }
  }
  return begin == std::string_view::npos ? std::string_view{} : line.substr(begin);
}

// A field in quotes for a message: printable characters as they are, every
// other one (controls, format characters) as \u{XXXX}, so that nothing reaches the terminal raw.
std::string quoted_field(std::string_view field) {
  std::string out = "'";
  std::size_t pos = 0;
  for (std::size_t n = 0; pos < field.size(); ++n) {
    if (n == QUOTED_FIELD_CHARS) {
      out += "…";
      break;
    }
    const char32_t cp = quorvel::decode_next(field, pos);
    if (cp == '\'' || cp == '\\') {
      out += '\\';
      out += char(cp);
    } else if (cp < 0x80 ? cp >= 0x20 && cp < 0x7F : quorvel::is_printable(cp)) {
      quorvel::append_utf8(out, cp);  // ill-formed bytes come out as U+FFFD, never raw
    } else {
      out += fmt::format("\\u{{{:04X}}}", std::uint32_t(cp));
    }
  }
  return out + "'";
}

std::string read_capped(const std::filesystem::path& file) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec))
    throw quorvel::ValueError(fmt::format("股票池文件 {} 是一个目录：请给出每行一个代码的文本文件", file.string()));
  std::ifstream in(file, std::ios::binary);
  if (!in) throw quorvel::ValueError(fmt::format("无法读取股票池文件: {}", file.string()));
  std::string bytes;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.append(buffer, std::size_t(in.gcount()));
    if (bytes.size() > MAX_POOL_BYTES)
      throw quorvel::ValueError(
          fmt::format("股票池文件 {} 超过 16 MiB，不是每行一个代码的文本文件", file.string()));
  }
  if (in.bad()) throw quorvel::ValueError(fmt::format("无法读取股票池文件: {}", file.string()));
  return bytes;
}

// A NUL byte never occurs in a text watchlist, but in every UTF-16 file and almost every binary one.
// Other bytes outside the code field (a name or a comment saved as GBK) are left alone: only the
// code itself must be made of code characters.
void check_line(const std::filesystem::path& file, std::size_t number, std::string_view line) {
  if (line.find('\0') != std::string_view::npos)
    throw quorvel::ValueError(fmt::format(
        "股票池文件 {} 第 {} 行含有 NUL 字节，不是文本文件：UTF-16 编码的文件请另存为 UTF-8，二进制文件不能作股票池",
        file.string(), number));
}

}  // namespace

std::vector<std::string> read_code_list(const std::filesystem::path& file) {
  return parse_code_list(read_capped(file), file);
}

std::vector<std::string> parse_code_list(std::string_view bytes, const std::filesystem::path& file) {
  std::string_view text = bytes;
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF"))
    throw quorvel::ValueError(
        fmt::format("股票池文件 {} 是 UTF-16 编码：请另存为 UTF-8 编码的文本文件（每行一个代码）", file.string()));
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);

  std::vector<std::string> codes;
  std::set<std::string> seen;
  for (std::size_t number = 1; !text.empty(); ++number) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    check_line(file, number, line);
    const std::string_view code = first_field(line);
    if (code.empty() || code.front() == '#') continue;
    for (std::size_t pos = 0; pos < code.size();) {
      if (!is_code_char(quorvel::decode_next(code, pos)))
        throw quorvel::ValueError(fmt::format(
            "股票池文件 {} 第 {} 行的代码 {} 含有代码中不能出现的字符：代码只由字母、数字、'.'、'-'、'_' 组成，"
            "如 sh.600000、hk.00700、us.AAPL、510050",
            file.string(), number, quoted_field(code)));
    }
    // One instrument however it is spelt: "SH.600519" and "sh.600519" are one line of work.
    std::string canonical = quorvel::canonical_or_raw(std::string(code));
    if (seen.insert(canonical).second) codes.push_back(std::move(canonical));
  }
  return codes;
}

}  // namespace tarnel
