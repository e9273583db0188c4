#include "tarnel/online/reply_text.h"

#include <charconv>
#include <cmath>

#include "quorvel/utils/outside_text.h"

namespace tarnel::online {

std::string_view json_payload(std::string_view body) {
  const auto open = body.find('{');
  const auto close = body.rfind('}');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) return body;
  return body.substr(open, close - open + 1);
}

std::vector<std::string_view> split_fields(std::string_view line, char sep) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const auto end = line.find(sep, start);
    out.push_back(line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return out;
    start = end + 1;
  }
}

std::optional<double> number_text_value(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '"')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '"')) t.remove_suffix(1);
  double v = 0;
  const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || ptr != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<double> field_number(const std::vector<std::string_view>& fields, std::size_t i) {
  if (i >= fields.size()) return std::nullopt;
  return number_text_value(fields[i]);
}

SeriesReply failed_reply(SeriesReply reply, std::string detail) {
  reply.outcome = SeriesReply::Outcome::failed;
  reply.rows.clear();
  reply.detail = quorvel::outside_text(detail);  // it may quote the reply: shown and logged as outside text
  return reply;
}

}  // namespace tarnel::online
