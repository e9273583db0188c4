#include "quorvel/report/report_paths.h"

#include <fmt/format.h>

#include "quorvel/utils/text.h"

namespace quorvel::report {

namespace {

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
  return safe_file_component(date_key(analysis_time), "undated");
}

bool is_inside(const std::filesystem::path& dir, const std::filesystem::path& path) {
  const auto d = dir.lexically_normal();
  const auto rel = path.lexically_normal().lexically_relative(d);
  if (rel.empty()) return false;
  const auto first = *rel.begin();
  return first != ".." && first != ".";
}

}  // namespace quorvel::report
