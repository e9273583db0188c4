#pragma once
// Calendar dates as "YYYY-MM-DD" texts.
#include <optional>
#include <string>
#include <string_view>

#include "contracts/bar_table.h"

namespace tarnel {

// The date of an exact "YYYY-MM-DD" text; nothing for a malformed or impossible date (2023-02-30).
std::optional<Date> try_parse_date(std::string_view text);
// Same, but a quorvel::ValueError that quotes the text.
Date parse_date(std::string_view text);

// Monday = 0 ... Sunday = 6.
int weekday_index(Date d);
bool is_weekend(Date d);

}  // namespace tarnel
