#include "quorvel/agent/schemas/decimal.h"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

#include "quorvel/utils/utf8_text.h"

namespace quorvel::agent::schemas {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignore_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != b[i]) return false;
  return true;
}

// True when `s` is digits [ "." digits ] [ exponent ] with at least one mantissa digit.
bool is_decimal_literal(std::string_view s) {
  std::size_t i = 0;
  std::size_t mantissa_digits = 0;
  while (i < s.size() && is_digit(s[i])) ++i, ++mantissa_digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && is_digit(s[i])) ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const std::size_t exp_start = i;
    while (i < s.size() && is_digit(s[i])) ++i;
    if (i == exp_start) return false;
  }
  return i == s.size();
}

// strtod in the "C" locale, whatever locale the process has set.
double c_locale_strtod(const std::string& text) {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return strtod_l(text.c_str(), nullptr, c_locale);
}

}  // namespace

double decimal_literal_to_double(std::string_view literal) {
  std::string_view body = literal;
  if (!body.empty() && body.front() == '+') body.remove_prefix(1);
  double value = 0.0;
  const auto res = std::from_chars(body.data(), body.data() + body.size(), value);
  if (res.ec == std::errc() && res.ptr == body.data() + body.size()) return value;
  // Out of range: strtod yields the correctly signed infinity, zero or subnormal.
  return c_locale_strtod(std::string(body));
}

std::optional<double> parse_decimal(std::string_view text) {
  std::string_view s = trim_unicode_space(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (equals_ignore_case(s, "inf") || equals_ignore_case(s, "infinity")) {
    return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  }
  if (equals_ignore_case(s, "nan")) return std::numeric_limits<double>::quiet_NaN();
  if (!is_decimal_literal(s)) return std::nullopt;
  const double magnitude = decimal_literal_to_double(s);
  return negative ? -magnitude : magnitude;
}

double round3(double x) {
  if (!std::isfinite(x)) return x;
  // Fixed notation of the largest double needs 309 digits before the point.
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, 3);
  double rounded = x;
  std::from_chars(buf, res.ptr, rounded);
  return rounded;
}

std::string truncated_integer_text(double x) {
  const double whole = std::trunc(x);
  if (whole == 0.0) return "0";  // no "-0" for values in (-1, 0)
  char buf[400];
  const auto res = std::to_chars(buf, buf + sizeof buf, whole, std::chars_format::fixed, 0);
  return std::string(buf, res.ptr);
}

}  // namespace quorvel::agent::schemas
