#pragma once
// Market of an instrument code.
#include <optional>
#include <string>

namespace quorvel {

// "A" for sh./sz./bj. codes, "HK" for hk., "US" for us., "ETF" for etf. codes and bare six-digit
// fund codes; absent for anything else. An sh./sz. code in a fund range (5xxxxx on Shanghai,
// 1xxxxx on Shenzhen) or whose name contains "ETF" is an "ETF" too.
std::optional<std::string> get_market_type(const std::string& code, const std::string& stock_name = "");

}  // namespace quorvel
