#include "contracts/dates.h"

#include <cctype>

#include "contracts/errors.h"

namespace tarnel {

namespace {

bool digits(std::string_view s) {
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

int to_int(std::string_view s) {
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

}  // namespace

std::optional<Date> try_parse_calendar_date(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const auto y = text.substr(0, 4), m = text.substr(5, 2), d = text.substr(8, 2);
  if (!digits(y) || !digits(m) || !digits(d)) return std::nullopt;
  const date::year_month_day ymd{date::year{to_int(y)}, date::month{unsigned(to_int(m))}, date::day{unsigned(to_int(d))}};
  if (!ymd.ok()) return std::nullopt;
  return Date{ymd};
}

std::optional<Date> try_parse_date(std::string_view text) {
  const auto d = try_parse_calendar_date(text);
  if (!d) return std::nullopt;
  const date::year_month_day ymd{*d};
  if (ymd.year() < date::year{MIN_YEAR} || ymd.year() > date::year{MAX_YEAR}) return std::nullopt;
  return d;
}

Date parse_date(std::string_view text) {
  if (auto d = try_parse_date(text)) return *d;
  throw quorvel::ValueError("日期格式错误: '" + std::string(text) + "'，应为 " + std::to_string(MIN_YEAR) + "-" +
                            std::to_string(MAX_YEAR) + " 年间 YYYY-MM-DD 的有效日期");
}

int weekday_index(Date d) {
  const date::weekday wd{d};
  return int((wd.c_encoding() + 6) % 7);
}

bool is_weekend(Date d) { return weekday_index(d) >= 5; }

}  // namespace tarnel
