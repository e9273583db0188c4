#pragma once
// Date checks shared by the commands: today's date text, and the move back to the last closed
// trading day of the instrument's market.
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// Today's local date as "YYYY-MM-DD" (from the clock service).
std::string today_text();

// True when the "YYYY-MM-DD" text is later than today; a ValueError when it is not a date.
bool is_future_date(const std::string& date_text);

// The date check of the pool commands: nothing when `date_text` is a usable date; otherwise one
// line on standard error ("<program>: ...", a future date or a malformed one) and the usage-error
// exit status 2 to return.
std::optional<int> refuse_pool_date(std::string_view program, const std::string& date_text,
                                    std::string_view future_word = "日期");

// The --start check of the commands, made before anything is read or written: nothing when `start`
// is empty or a date not later than `end` (a valid "YYYY-MM-DD"); otherwise one line on standard
// error ("<program>: --start ...", malformed, out of the supported years, or after `end`, which the
// message calls `end_word`) and the usage-error exit status 2 to return.
std::optional<int> refuse_start_date(std::string_view program, const std::string& start, const std::string& end,
                                     std::string_view end_word = "分析日期");

// Trading days of an instrument's own calendar by which its data may lag the requested day before
// it is called stale (a suspension, data not updated): an analysis says so, a screen or radar does
// not list it.
inline constexpr int STALE_SESSIONS = 5;

// Trading days of the calendar of `code`'s market after its last bar `as_of` up to `date`
// ("YYYY-MM-DD"; 0 when `as_of` is not earlier).
int sessions_behind(const std::string& code, const std::string& as_of, const std::string& date);

}  // namespace quorvel
