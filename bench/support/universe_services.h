#pragma once
// The real market-data and pattern services over the benchmark universe, installed for the life
// of the process (created on first use).
#include <memory>

#include "contracts/market_data.h"
#include "contracts/pattern_service.h"
#include "quorvel/utils/environment.h"
#include "support/universe.h"
#include "tarnel/local_market_data.h"
#include "zerith/rule_pattern_service.h"

namespace quorvel::bench {

// History window every screening benchmark reads.
inline constexpr const char* START = "2015-01-01";
inline constexpr const char* END = "2026-12-31";

struct UniverseServices {
  UniverseServices()
      : market(std::make_shared<tarnel::LocalMarketData>(universe_store(), get_project_root() / "data")),
        patterns(std::make_shared<zerith::RulePatternService>(nullptr)),
        market_guard(market),
        pattern_guard(patterns) {}
  std::shared_ptr<tarnel::LocalMarketData> market;
  std::shared_ptr<zerith::RulePatternService> patterns;
  Service<tarnel::MarketData>::Guard market_guard;
  Service<zerith::PatternService>::Guard pattern_guard;
};

inline UniverseServices& universe_services() {
  static UniverseServices s;
  return s;
}

}  // namespace quorvel::bench
