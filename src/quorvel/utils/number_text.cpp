#include "quorvel/utils/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include <fmt/format.h>

namespace quorvel {

namespace {

std::string non_finite_text(double x) {
  if (std::isnan(x)) return "nan";
  return x > 0 ? "inf" : "-inf";
}

}  // namespace

std::string number_text(double x) {
  if (!std::isfinite(x)) return non_finite_text(x);
  // Shortest digits in scientific form, e.g. "-1.2345e+02" or "1e-05".
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
  const std::string_view sci(buf, std::size_t(res.ptr - buf));
  const std::size_t e_pos = sci.find('e');
  std::string_view mantissa = sci.substr(0, e_pos);
  const int exponent = std::atoi(std::string(sci.substr(e_pos + 1)).c_str());
  const bool negative = !mantissa.empty() && mantissa.front() == '-';
  if (negative) mantissa.remove_prefix(1);
  std::string digits;
  for (char c : mantissa)
    if (c != '.') digits += c;

  std::string out = negative ? "-" : "";
  if (exponent < -4 || exponent >= 16) {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += fmt::format("e{}{:02d}", exponent < 0 ? '-' : '+', std::abs(exponent));
    return out;
  }
  if (exponent < 0) {
    out += "0." + std::string(std::size_t(-exponent - 1), '0') + digits;
    return out;
  }
  const std::size_t int_len = std::size_t(exponent) + 1;
  if (digits.size() <= int_len) {
    out += digits + std::string(int_len - digits.size(), '0') + ".0";
  } else {
    out += digits.substr(0, int_len) + "." + digits.substr(int_len);
  }
  return out;
}

std::string number_text(long long x) { return std::to_string(x); }

std::string number_text(const Num& x) { return x.is_integer() ? number_text(x.integer()) : number_text(x.value()); }

double round_half_even(double x, int digits) {
  if (!std::isfinite(x)) return x;
  const double scale = std::pow(10.0, digits);
  return std::nearbyint(x * scale) / scale;  // default rounding mode: to nearest, ties to even
}

std::string r3(const Num& x) {
  if (x.is_integer()) return number_text(x.integer());
  return number_text(round_half_even(x.value(), 3));
}

std::string r0(const Num& x) {
  if (x.is_integer()) return number_text(x.integer());
  const double v = x.value();
  if (!std::isfinite(v)) return non_finite_text(v);
  const double whole = std::nearbyint(v);
  if (std::fabs(whole) < 9.0e18) return std::to_string(static_cast<long long>(whole));  // no "-0"
  return fmt::format("{:.0f}", whole);
}

}  // namespace quorvel
