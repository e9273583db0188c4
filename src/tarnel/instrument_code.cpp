#include "tarnel/instrument_code.h"

#include <optional>

#include "contracts/errors.h"
#include "quorvel/utils/instrument_code.h"

namespace tarnel {

namespace {

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
  const std::optional<std::string> code = quorvel::canonical_code(raw);
  if (!code) reject(raw);
  if (code->starts_with("hk.")) return {*code, Market::HK};
  if (code->starts_with("us.")) return {*code, Market::US};
  if (code->find('.') == std::string::npos) return {*code, Market::ETF};
  return {*code, Market::A};
}

std::string fund_code_of(const std::string& canonical) {
  if (canonical.size() != 9) return "";
  if ((canonical.rfind("sh.5", 0) == 0) || (canonical.rfind("sz.1", 0) == 0)) return canonical.substr(3);
  return "";
}

}  // namespace tarnel
