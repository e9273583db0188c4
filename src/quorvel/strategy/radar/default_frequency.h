#pragma once
// The radar's bar frequency by weekday: a week is complete from its Friday on, so Friday, Saturday
// and Sunday judge weekly bars and Monday to Thursday daily bars.
#include <optional>
#include <string>
#include <string_view>

#include <date/date.h>

#include "contracts/bar_table.h"

namespace quorvel::strategy::radar {

// "weekly" or "daily" for a calendar date (a bar's date is used as it is).
std::string get_default_frequency(tarnel::Date day);
// For today's local date (clock service).
std::string get_default_frequency();
// For a date text: "YYYY-MM-DD", "YYYY/MM/DD", "YYYY.MM.DD" (month and day may have one digit) or
// "YYYYMMDD", optionally followed by a time after ' ', 'T' or '_' ("2023-02-10 15:00:00",
// "2023-02-10T15:00:00+08:00", "2023-02-10_1500"). Text that is not such a date gives the answer
// for today.
std::string get_default_frequency(std::string_view text);

// The calendar date of a date text in the forms above, or nothing.
std::optional<tarnel::Date> parse_frequency_date(std::string_view text);

}  // namespace quorvel::strategy::radar
