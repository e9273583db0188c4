#pragma once
// Where a pool command finds its instruments: every stored instrument of a market, or the ETF
// universe file. Watchlist files are read by tarnel::read_code_list (tarnel/code_list.h).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

struct PoolMember {
  std::string code;
  std::string name;  // empty when the source does not say
};

// Every stored stock or fund of the market ("ETF": the funds; "A": A-share stocks), with names.
std::vector<PoolMember> market_members(const std::string& market);

// The funds of an ETF universe file (see quorvel/utils/etf_universe.h), in file order.
std::vector<PoolMember> etf_universe_members(const std::string& file);

// The codes of a watchlist file for a command that needs at least one: nothing, after one line on
// standard error ("<program>: ..."), when the file cannot be used or lists no code.
std::optional<std::vector<std::string>> watchlist_codes(std::string_view program, const std::string& file);

}  // namespace quorvel
