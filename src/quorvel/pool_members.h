#pragma once
// Where a pool command finds its instruments: a watchlist file, every stored instrument of a
// market, or the ETF universe file.
#include <string>
#include <vector>

namespace quorvel {

struct PoolMember {
  std::string code;
  std::string name;  // empty when the source does not say
};

// Codes of a pool file: the first field of each line (comma or white space separated); blank
// lines and lines starting with '#' are skipped. A ValueError when the file cannot be read.
std::vector<std::string> read_pool_file(const std::string& file);

// Every stored stock or fund of the market ("ETF": the funds; "A": A-share stocks), with names.
std::vector<PoolMember> market_members(const std::string& market);

// The funds of an ETF universe file (see zerith/etf_universe.h), in file order.
std::vector<PoolMember> etf_universe_members(const std::string& file);

}  // namespace quorvel
