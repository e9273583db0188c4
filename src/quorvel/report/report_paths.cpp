#include "quorvel/report/report_paths.h"

#include <cstdlib>

#include <fmt/format.h>

#include "quorvel/utils/environment.h"

namespace quorvel::report {

namespace {

std::string trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t\r\n\f\v");
  if (b == std::string_view::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n\f\v");
  return std::string(s.substr(b, e - b + 1));
}

std::filesystem::path expand_home(const std::string& p) {
  if (p.empty() || p.front() != '~') return p;
  if (p.size() > 1 && p[1] != '/') return p;  // "~user" is not expanded
  const char* home = std::getenv("HOME");
  if (!home || !*home) return p;
  return std::filesystem::path(home) / (p.size() > 2 ? p.substr(2) : std::string());
}

// Number of bytes of the leading UTF-8 code point at `s[i]` (1 for a stray byte).
std::size_t code_point_length(std::string_view s, std::size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xe ? 3 : (c >> 3) == 0x1e ? 4 : 1;
  return i + n <= s.size() ? n : 1;
}

bool kept_as_is(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '+';
}

// FNV-1a, enough to keep cut names apart; not a security property.
std::uint64_t fnv1a(std::string_view s) {
  std::uint64_t h = 1469598103934665603ull;
  for (const char c : s) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

constexpr std::size_t MAX_COMPONENT_BYTES = 120;

}  // namespace

std::filesystem::path report_directory() {
  std::string dir = trim(env_value("REPORT_DIR").value_or(""));
  if (dir.empty()) {
    const std::string center = trim(env_value("TARNEL_CENTER").value_or(""));
    dir = center.empty() ? std::string("report") : (std::filesystem::path(center) / "report").string();
  }
  std::filesystem::path path = expand_home(dir);
  if (!path.is_absolute()) path = get_project_root() / path;
  return path;
}

std::string normalize_report_date(std::string_view analysis_time) {
  if (analysis_time.empty()) return {};
  const std::string trimmed = trim(analysis_time.substr(0, analysis_time.find('_')));
  // At most 10 characters (code points), never cutting a multi-byte character in half.
  std::size_t i = 0;
  for (int count = 0; i < trimmed.size() && count < 10; ++count) i += code_point_length(trimmed, i);
  return trimmed.substr(0, i);
}

std::string safe_file_component(std::string_view text, std::string_view fallback) {
  if (text.empty()) return std::string(fallback);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (kept_as_is(c) && !(i == 0 && c == '.')) {
      out += c;
    } else {
      out += fmt::format("%{:02X}", static_cast<unsigned char>(c));
    }
  }
  if (out.size() > MAX_COMPONENT_BYTES) {
    std::size_t cut = MAX_COMPONENT_BYTES - 17;
    // Do not split a "%XX" escape.
    if (cut >= 1 && out[cut - 1] == '%') cut -= 1;
    if (cut >= 2 && out[cut - 2] == '%') cut -= 2;
    out = fmt::format("{}~{:016x}", out.substr(0, cut), fnv1a(text));
  }
  return out;
}

std::string date_folder(std::string_view analysis_time) {
  return safe_file_component(normalize_report_date(analysis_time), "undated");
}

bool is_inside(const std::filesystem::path& dir, const std::filesystem::path& path) {
  const auto d = dir.lexically_normal();
  const auto rel = path.lexically_normal().lexically_relative(d);
  if (rel.empty()) return false;
  const auto first = *rel.begin();
  return first != ".." && first != ".";
}

}  // namespace quorvel::report
