#pragma once
// The one spelling of an instrument code. Reports, claims, files, messages and the bar store key
// an instrument by it, so that "SH.600519", "hk.700", "HK.00700" or "etf.510050" are never
// instruments of their own.
//
//   sh.600000 sz.000001 bj.430047   A-shares and A-share indices: prefix lower case, six digits
//   hk.00700 hk.HSI                 Hong Kong: numbers padded to five digits, index names upper case
//   us.AAPL us.BRK-B                US: ticker upper case
//   510050                          funds: six digits ("etf.510050" is the same fund)
//
// Codes written exchange-last ("600519.SH", "000001.sz", "00700.HK", "AAPL.US") mean the same.
// An exchange-prefixed fund number ("sh.510050") keeps its prefix: it is an A-market code.
// Pure functions; thread-safe.
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The canonical code, or nothing when `raw` has none of the accepted forms. Surrounding white
// space is ignored.
std::optional<std::string> canonical_code(std::string_view raw);

// The canonical code when there is one, else `raw` unchanged (for a message or a lookup that then
// fails with its own error).
std::string canonical_or_raw(const std::string& raw);

// The prefixed A-share code of a bare six-digit stock number ("600519" -> "sh.600519",
// "000001" -> "sz.000001", "430047" -> "bj.430047"), or nothing when the number is no A-share stock
// number. A bare number otherwise reads as a fund; this tells a user which code was meant.
std::optional<std::string> a_share_code_of_number(std::string_view number);

}  // namespace quorvel
