#include "quorvel/pool_members.h"

#include <fstream>

#include "contracts/errors.h"
#include "tarnel/bar_store.h"
#include "zerith/etf_universe.h"

namespace quorvel {

std::vector<std::string> read_pool_file(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw ValueError("无法读取股票池文件: " + file);
  std::vector<std::string> codes;
  for (std::string line; std::getline(in, line);) {
    const auto begin = line.find_first_not_of(" \t\r");
    if (begin == std::string::npos || line[begin] == '#') continue;
    const auto end = line.find_first_of(" \t\r,", begin);
    codes.push_back(line.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
  }
  return codes;
}

std::vector<PoolMember> market_members(const std::string& market) {
  tarnel::BarStore store(tarnel::default_store_path());
  std::vector<PoolMember> members;
  for (const auto& e : store.instruments())
    if (e.market == market && e.kind != "index") members.push_back({e.code, e.name});
  return members;
}

std::vector<PoolMember> etf_universe_members(const std::string& file) {
  std::vector<PoolMember> members;
  for (const auto& e : zerith::load_etf_universe(file).etfs) members.push_back({e.code, e.name});
  return members;
}

}  // namespace quorvel
