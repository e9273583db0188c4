#include "quorvel/strategy/radar/default_frequency.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "contracts/clock.h"
#include "quorvel/utils/text.h"

namespace quorvel::strategy::radar {

namespace {

bool digits(std::string_view s, std::size_t min_len, std::size_t max_len) {
  return s.size() >= min_len && s.size() <= max_len &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

int to_int(std::string_view s) {
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

// A time of day with an optional fraction and zone: only digits, ':', '.', '+', '-' and 'Z'.
bool time_like(std::string_view s) {
  return !s.empty() && std::isdigit(static_cast<unsigned char>(s.front())) &&
         s.find_first_not_of("0123456789:.+-Z") == std::string_view::npos;
}

std::vector<std::string_view> split_date(std::string_view s) {
  if (digits(s, 8, 8)) return {s.substr(0, 4), s.substr(4, 2), s.substr(6, 2)};
  const auto sep = s.find_first_of("-/.");
  if (sep == std::string_view::npos) return {};
  std::vector<std::string_view> parts;
  std::size_t begin = 0;
  for (std::size_t i = 0; i <= s.size(); ++i)
    if (i == s.size() || s[i] == s[sep]) {
      parts.push_back(s.substr(begin, i - begin));
      begin = i + 1;
    }
  return parts;
}

}  // namespace

std::optional<tarnel::Date> parse_frequency_date(std::string_view text) {
  const std::string t = trim_text(text);
  const auto cut = t.find_first_of(" T_");
  const std::string_view day = std::string_view(t).substr(0, cut);
  if (cut != std::string::npos && !time_like(trim_text(std::string_view(t).substr(cut + 1)))) return std::nullopt;
  const auto parts = split_date(day);
  if (parts.size() != 3 || !digits(parts[0], 4, 4) || !digits(parts[1], 1, 2) || !digits(parts[2], 1, 2))
    return std::nullopt;
  const date::year_month_day ymd{date::year{to_int(parts[0])}, date::month(unsigned(to_int(parts[1]))),
                                 date::day(unsigned(to_int(parts[2])))};
  if (!ymd.ok()) return std::nullopt;
  return tarnel::Date{ymd};
}

std::string get_default_frequency(tarnel::Date day) {
  // ISO weekday: Monday 1 ... Sunday 7; Friday and later is the weekly side.
  return date::weekday(day).iso_encoding() >= 5 ? "weekly" : "daily";
}

std::string get_default_frequency() { return get_default_frequency(tarnel::Date{clock().today_local()}); }

std::string get_default_frequency(std::string_view text) {
  const auto day = parse_frequency_date(text);
  return day ? get_default_frequency(*day) : get_default_frequency();
}

}  // namespace quorvel::strategy::radar
