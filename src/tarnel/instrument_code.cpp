#include "tarnel/instrument_code.h"

#include "quorvel/utils/text.h"

#include <algorithm>
#include <cctype>

#include "contracts/errors.h"

namespace tarnel {

namespace {

std::string lower_text(std::string_view s) { return quorvel::lower_ascii(std::string(s)); }
std::string upper_text(std::string_view s) { return quorvel::upper_ascii(std::string(s)); }

bool all_of(std::string_view s, int (*pred)(int)) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [pred](unsigned char c) { return pred(c) != 0; });
}

bool us_ticker(std::string_view s) {
  if (s.empty() || s.size() > 10 || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
  return std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isalnum(c) || c == '.' || c == '-'; });
}

[[noreturn]] void reject(std::string_view raw) {
  throw quorvel::ValueError("无效的证券代码: '" + std::string(raw) +
                            "'（应为 sh.600000、sz.000001、bj.430047、hk.00700、us.AAPL 或 510050 这样的代码）");
}

}  // namespace

std::string_view market_name(Market m) {
  switch (m) {
    case Market::A: return "A";
    case Market::HK: return "HK";
    case Market::US: return "US";
    case Market::ETF: return "ETF";
  }
  return "?";
}

InstrumentCode parse_instrument_code(std::string_view raw) {
  while (!raw.empty() && std::isspace(static_cast<unsigned char>(raw.front()))) raw.remove_prefix(1);
  while (!raw.empty() && std::isspace(static_cast<unsigned char>(raw.back()))) raw.remove_suffix(1);
  if (raw.size() == 6 && all_of(raw, ::isdigit)) return {std::string(raw), Market::ETF};
  const auto dot = raw.find('.');
  if (dot == std::string_view::npos) reject(raw);
  const std::string prefix = lower_text(raw.substr(0, dot));
  const std::string_view rest = raw.substr(dot + 1);
  if (prefix == "sh" || prefix == "sz" || prefix == "bj") {
    if (rest.size() != 6 || !all_of(rest, ::isdigit)) reject(raw);
    return {prefix + "." + std::string(rest), Market::A};
  }
  if (prefix == "etf") {
    if (rest.size() != 6 || !all_of(rest, ::isdigit)) reject(raw);
    return {std::string(rest), Market::ETF};
  }
  if (prefix == "hk") {
    if (!rest.empty() && rest.size() <= 5 && all_of(rest, ::isdigit))
      return {"hk." + std::string(5 - rest.size(), '0') + std::string(rest), Market::HK};
    if (rest.size() >= 2 && rest.size() <= 10 && all_of(rest, ::isalpha)) return {"hk." + upper_text(rest), Market::HK};
    reject(raw);
  }
  if (prefix == "us") {
    if (!us_ticker(rest)) reject(raw);
    return {"us." + upper_text(rest), Market::US};
  }
  reject(raw);
}

std::string fund_code_of(const std::string& canonical) {
  if (canonical.size() != 9) return "";
  if ((canonical.rfind("sh.5", 0) == 0) || (canonical.rfind("sz.1", 0) == 0)) return canonical.substr(3);
  return "";
}

}  // namespace tarnel
