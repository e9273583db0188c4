#include "quorvel/utils/price_limits.h"

#include "quorvel/utils/market_type.h"

namespace quorvel {

namespace {

bool is_fund(const std::string& code) { return get_market_type(code) == "ETF"; }

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

double limit_band(const std::string& code, tarnel::Date day) {
  if (is_fund(code)) return 0.10;
  if (starts_with(code, "bj.")) return 0.30;
  if (starts_with(code, "sh.688") || starts_with(code, "sh.689")) return 0.20;
  if (starts_with(code, "sz.30")) return day >= tarnel::Date{date::year{2020} / 8 / 24} ? 0.20 : 0.10;
  return 0.10;
}

double price_tick(const std::string& code) { return is_fund(code) ? 0.001 : 0.01; }

}  // namespace quorvel
