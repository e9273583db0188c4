#include "quorvel/utils/instrument_code.h"

#include <algorithm>
#include <cctype>

#include "quorvel/utils/text.h"

namespace quorvel {

namespace {

bool all_of(std::string_view s, int (*pred)(int)) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [pred](unsigned char c) { return pred(c) != 0; });
}

bool us_ticker(std::string_view s) {
  if (s.empty() || s.size() > 10 || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
  return std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '-'; });
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::optional<std::string> prefixed(const std::string& prefix, std::string_view rest) {
  if (prefix == "sh" || prefix == "sz" || prefix == "bj") {
    if (rest.size() != 6 || !all_of(rest, ::isdigit)) return std::nullopt;
    return prefix + "." + std::string(rest);
  }
  if (prefix == "etf") {
    if (rest.size() != 6 || !all_of(rest, ::isdigit)) return std::nullopt;
    return std::string(rest);
  }
  if (prefix == "hk") {
    if (!rest.empty() && rest.size() <= 5 && all_of(rest, ::isdigit))
      return "hk." + std::string(5 - rest.size(), '0') + std::string(rest);
    if (rest.size() >= 2 && rest.size() <= 10 && all_of(rest, ::isalpha)) return "hk." + upper_ascii(std::string(rest));
    return std::nullopt;
  }
  if (prefix == "us") {
    if (!us_ticker(rest)) return std::nullopt;
    return "us." + upper_ascii(std::string(rest));
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> canonical_code(std::string_view raw) {
  raw = trimmed(raw);
  if (raw.size() == 6 && all_of(raw, ::isdigit)) return std::string(raw);
  const auto dot = raw.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  if (auto code = prefixed(lower_ascii(std::string(raw.substr(0, dot))), raw.substr(dot + 1))) return code;
  // Exchange last: "600519.SH", "00700.HK", "AAPL.US".
  const auto last = raw.rfind('.');
  const std::string exchange = lower_ascii(std::string(raw.substr(last + 1)));
  if (exchange == "etf") return std::nullopt;
  return prefixed(exchange, raw.substr(0, last));
}

std::string canonical_or_raw(const std::string& raw) { return canonical_code(raw).value_or(raw); }

std::optional<std::string> a_share_code_of_number(std::string_view number) {
  number = trimmed(number);
  if (number.size() != 6 || !all_of(number, ::isdigit)) return std::nullopt;
  const std::string n(number);
  // Shanghai main board and STAR (600/601/603/605, 688/689), Shenzhen main board and ChiNext
  // (000-003, 300/301), Beijing (43, 83, 87, 88, 92).
  if (n.starts_with("60") || n.starts_with("68")) return "sh." + n;
  if (n.starts_with("00") || n.starts_with("30")) return "sz." + n;
  if (n.starts_with("43") || n.starts_with("83") || n.starts_with("87") || n.starts_with("88") || n.starts_with("92"))
    return "bj." + n;
  return std::nullopt;
}

}  // namespace quorvel
