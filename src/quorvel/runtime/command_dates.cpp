#include "quorvel/runtime/command_dates.h"

#include <iostream>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/utils/market_type.h"
#include "contracts/dates.h"

namespace quorvel {

std::string today_text() { return tarnel::date_text(tarnel::Date{clock().today_local()}); }

bool is_future_date(const std::string& date_text) {
  // A far future date (year 2999) is still a future date, not a malformed one.
  if (const auto d = tarnel::try_parse_calendar_date(date_text); d && *d > tarnel::Date{clock().today_local()})
    return true;
  return tarnel::parse_date(date_text) > tarnel::Date{clock().today_local()};
}

std::optional<int> refuse_pool_date(std::string_view program, const std::string& date_text,
                                    std::string_view future_word) {
  try {
    if (!is_future_date(date_text)) return std::nullopt;
    std::cerr << program << ": " << future_word << " " << date_text << " 是未来日期\n";
  } catch (const ValueError&) {
    std::cerr << program << ": 日期格式错误: " << date_text << "，应为 YYYY-MM-DD\n";
  }
  return 2;
}

std::optional<int> refuse_start_date(std::string_view program, const std::string& start, const std::string& end,
                                     std::string_view end_word) {
  if (start.empty()) return std::nullopt;
  const auto first = tarnel::try_parse_calendar_date(start);
  const auto last = tarnel::try_parse_calendar_date(end);
  if (!first) {
    std::cerr << program << ": --start 日期格式错误: " << start << "，应为 YYYY-MM-DD 的有效日期\n";
  } else if (last && *first > *last) {
    std::cerr << program << ": --start " << start << " 晚于" << end_word << " " << end
              << "，这段时间内没有K线：请给出不晚于 " << end << " 的起始日期\n";
  } else if (!tarnel::try_parse_date(start)) {
    std::cerr << program << ": --start " << start << " 超出支持的年份范围 " << tarnel::MIN_YEAR << "–"
              << tarnel::MAX_YEAR << "\n";
  } else {
    return std::nullopt;
  }
  return 2;
}

int sessions_behind(const std::string& code, const std::string& as_of, const std::string& date) {
  if (as_of.empty() || !(as_of < date)) return 0;
  return tarnel::count_trading_days(get_market_type(code).value_or("A"), as_of, date);
}

}  // namespace quorvel
