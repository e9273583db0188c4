#include "quorvel/utils/price_limits.h"

#include "quorvel/utils/market_type.h"

namespace quorvel {

namespace {

bool is_fund(const std::string& code) { return get_market_type(code) == "ETF"; }

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

LimitBandRule::LimitBandRule(const std::string& code) {
  if (is_fund(code)) {
    before_ = after_ = 0.10;
  } else if (starts_with(code, "bj.")) {
    before_ = after_ = 0.30;
  } else if (starts_with(code, "sh.688") || starts_with(code, "sh.689")) {
    before_ = after_ = 0.20;
  } else if (starts_with(code, "sz.30")) {
    // ChiNext's registration reform widened its band on its first day.
    before_ = 0.10;
    after_ = 0.20;
    change_ = tarnel::Date{date::year{2020} / 8 / 24};
  }
}

double limit_band(const std::string& code, tarnel::Date day) { return LimitBandRule(code).at(day); }

double price_tick(const std::string& code) { return is_fund(code) ? 0.001 : 0.01; }

}  // namespace quorvel
