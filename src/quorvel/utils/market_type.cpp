#include "quorvel/utils/market_type.h"

#include <algorithm>
#include <cctype>

#include "quorvel/utils/text.h"

namespace quorvel {

namespace {

bool six_digits(const std::string& s) {
  return s.size() == 6 && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

std::optional<std::string> get_market_type(const std::string& raw_code, const std::string& stock_name) {
  const std::string code = lower_ascii(raw_code);
  if (six_digits(code)) return "ETF";
  const auto dot = code.find('.');
  if (dot == std::string::npos) return std::nullopt;
  const std::string prefix = code.substr(0, dot);
  const std::string rest = code.substr(dot + 1);
  if (rest.empty()) return std::nullopt;
  if (prefix == "etf") return "ETF";
  if (prefix == "hk") return "HK";
  if (prefix == "us") return "US";
  if (prefix == "sh" || prefix == "sz" || prefix == "bj") {
    const bool fund_range = six_digits(rest) && ((prefix == "sh" && rest[0] == '5') || (prefix == "sz" && rest[0] == '1'));
    if (fund_range || stock_name.find("ETF") != std::string::npos) return "ETF";
    return "A";
  }
  return std::nullopt;
}

}  // namespace quorvel
