#pragma once
// Small helpers shared by the provider reply parsers.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tarnel/online/provider.h"

namespace tarnel::online {

// The JSON object inside a reply that may be wrapped as JSONP ("cb({...});") or as an assignment
// ("kline_dayqfq={...}"): from the first '{' to the last '}'; the whole text when there is none.
std::string_view json_payload(std::string_view body);

std::vector<std::string_view> split_fields(std::string_view line, char sep);

// The finite number of field `i`, or nothing (missing, empty, "-", text).
std::optional<double> field_number(const std::vector<std::string_view>& fields, std::size_t i);
std::optional<double> number_text_value(std::string_view text);

// `reply` marked failed with `detail`, its rows dropped: half an answer is never used. The detail is
// kept as outside text (quorvel/utils/outside_text.h), since it may quote the provider's reply.
SeriesReply failed_reply(SeriesReply reply, std::string detail);

}  // namespace tarnel::online
