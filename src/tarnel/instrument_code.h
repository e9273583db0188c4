#pragma once
// Instrument codes: "sh.600000", "sz.000001", "bj.430047" (A-shares and A-share indices),
// "hk.00700" or "hk.HSI" (Hong Kong), "us.AAPL" (US), "etf.510050" or "510050" (funds).
#include <string>
#include <string_view>

namespace tarnel {

enum class Market { A, HK, US, ETF };

std::string_view market_name(Market m);  // "A", "HK", "US", "ETF"

struct InstrumentCode {
  std::string code;  // canonical form, safe for SQL parameters and file names
  Market market;
};

// The canonical code (quorvel::canonical_code, utils/instrument_code.h) with its market. A
// quorvel::ValueError naming the code when it has none of the accepted forms.
InstrumentCode parse_instrument_code(std::string_view raw);

// "510050" for a Shanghai 5xxxxx or Shenzhen 1xxxxx fund written with its exchange prefix
// ("sh.510050"); empty otherwise.
std::string fund_code_of(const std::string& canonical);

}  // namespace tarnel
