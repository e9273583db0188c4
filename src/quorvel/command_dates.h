#pragma once
// Date checks shared by the commands: today's date text, and the move back to the last closed
// trading day of the instrument's market.
#include <string>

namespace quorvel {

// Today's local date as "YYYY-MM-DD" (from the clock service).
std::string today_text();

// True when the "YYYY-MM-DD" text is later than today; a ValueError when it is not a date.
bool is_future_date(const std::string& date_text);

}  // namespace quorvel
