#pragma once
// Calendar dates as "YYYY-MM-DD" texts.
#include <optional>
#include <string>
#include <string_view>

#include "contracts/bar_table.h"

namespace tarnel {

// Years a date may have: no market bar lies outside them, and stepping back from a date near the
// lower end can never leave the calendar.
inline constexpr int MIN_YEAR = 1800;
inline constexpr int MAX_YEAR = 2100;

// The date of an exact "YYYY-MM-DD" text; nothing for a malformed or impossible date (2023-02-30)
// or one outside [MIN_YEAR, MAX_YEAR].
std::optional<Date> try_parse_date(std::string_view text);
// Same, but a quorvel::ValueError that quotes the text.
Date parse_date(std::string_view text);
// Any real calendar date of an exact "YYYY-MM-DD" text, whatever its year (for telling a far
// future date from a malformed one).
std::optional<Date> try_parse_calendar_date(std::string_view text);

// Monday = 0 ... Sunday = 6.
int weekday_index(Date d);
bool is_weekend(Date d);

}  // namespace tarnel
