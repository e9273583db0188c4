#include "quorvel/pool_members.h"

#include "tarnel/bar_store.h"
#include "zerith/etf_universe.h"

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
  for (const auto& e : zerith::load_etf_universe(file).etfs) members.push_back({e.code, e.name});
  return members;
}

}  // namespace quorvel
