#include "quorvel/runtime/pool_members.h"

#include <iostream>

#include "contracts/errors.h"
#include "tarnel/bar_store.h"
#include "tarnel/code_list.h"
#include "quorvel/utils/etf_universe.h"

namespace quorvel {

std::vector<PoolMember> market_members(const std::string& market) {
  tarnel::BarStore store(tarnel::default_store_path());
  std::vector<PoolMember> members;
  for (const auto& e : store.instruments())
    if (e.market == market && e.kind != "index") members.push_back({e.code, e.name});
  return members;
}

std::vector<PoolMember> etf_universe_members(const std::string& file) {
  std::vector<PoolMember> members;
  for (const auto& e : quorvel::load_etf_universe(file).etfs) members.push_back({e.code, e.name});
  return members;
}

std::optional<std::vector<std::string>> watchlist_codes(std::string_view program, const std::string& file) {
  std::vector<std::string> codes;
  try {
    codes = tarnel::read_code_list(file);
  } catch (const ValueError& e) {
    std::cerr << program << ": " << e.what() << "\n";
    return std::nullopt;
  }
  if (codes.empty()) {
    std::cerr << program << ": 股票池文件中没有代码: " << file << "\n";
    return std::nullopt;
  }
  return codes;
}

}  // namespace quorvel
