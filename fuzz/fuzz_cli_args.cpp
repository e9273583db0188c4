// libFuzzer entry: a date or an instrument code as typed on a command line (-t, --start, --code,
// positional codes). A date is accepted exactly when it is a real "YYYY-MM-DD" day of the supported
// years and prints back as typed; parse_date refuses anything else with a ValueError. A code has one
// canonical spelling, itself canonical, that names the same market wherever it is read.
#include <cstdint>
#include <string>
#include <string_view>

#include "contracts/bar_table.h"
#include "contracts/dates.h"
#include "contracts/errors.h"
#include "fuzz_support.h"
#include "quorvel/utils/instrument_code.h"
#include "quorvel/utils/market_type.h"
#include "quorvel/utils/text.h"
#include "tarnel/instrument_code.h"

namespace {

void dates(std::string_view text) {
  const auto day = tarnel::try_parse_date(text);
  const auto calendar_day = tarnel::try_parse_calendar_date(text);
  fuzz::check(!day || calendar_day == day, "a supported date is a calendar date");
  if (calendar_day) fuzz::check(tarnel::date_text(*calendar_day) == text, "a calendar date prints back as typed");
  try {
    const tarnel::Date parsed = tarnel::parse_date(text);
    fuzz::check(day == parsed, "parse_date accepts what try_parse_date does");
    const int year = int(date::year_month_day{parsed}.year());
    fuzz::check(year >= tarnel::MIN_YEAR && year <= tarnel::MAX_YEAR, "a date of the supported years");
  } catch (const quorvel::ValueError&) {
    fuzz::check(!day, "parse_date refuses only what try_parse_date does");
  }
  const std::string key = quorvel::date_key(text);
  fuzz::check(key.find('_') == std::string::npos && quorvel::count_code_points(key) <= 10, "a date key is short");
}

void code(std::string_view text) {
  const auto canonical = quorvel::canonical_code(text);
  fuzz::check(quorvel::canonical_or_raw(std::string(text)) == (canonical ? *canonical : std::string(text)),
              "canonical_or_raw agrees");
  tarnel::InstrumentCode parsed;
  try {
    parsed = tarnel::parse_instrument_code(text);
  } catch (const quorvel::ValueError&) {
    fuzz::check(!canonical, "only a code without a canonical spelling is refused");
    return;
  }
  fuzz::check(canonical && parsed.code == *canonical, "the store's code is the canonical one");
  fuzz::check(quorvel::canonical_code(*canonical) == canonical, "a canonical code is its own canonical spelling");
  for (const char c : *canonical)
    fuzz::check((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-',
                "a canonical code is safe for file names and SQL");
  const auto market = quorvel::get_market_type(*canonical);
  fuzz::check(market.has_value(), "a canonical code has a market");
  const std::string_view store_market = tarnel::market_name(parsed.market);
  fuzz::check(*market == store_market || (store_market == "A" && *market == "ETF"), "both readings agree on the market");
  if (const auto a_share = quorvel::a_share_code_of_number(text)) {
    fuzz::check(quorvel::canonical_code(*a_share) == a_share, "an A-share code of a number is canonical");
    fuzz::check(a_share->ends_with(*canonical), "the A-share code keeps the number");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  dates(text);
  code(text);
  return 0;
}
