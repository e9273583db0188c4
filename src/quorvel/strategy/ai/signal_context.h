#pragma once
// The strategy-engine signals of one instrument, gathered into a map the LLM can check against the
// bars: which engines suit the instrument's market, and each engine's judgement of the latest bar.
// Stateless; as thread-safe as the pattern service it calls.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"
#include "contracts/pattern_service.h"

namespace quorvel::strategy::ai {

// The engines that suit a market, each with the name it is reported under, and the context status:
// "available" (engines listed), "unsupported_market" or "unsupported_version" (no engines).
template <class Engine>
struct EnginePlan {
  std::string status;
  std::vector<std::pair<std::string, Engine>> engines;
};

// "A": trend and reversal; "ETF": trend, reversal and Kaufman; "US": the dual-core engine when the
// engine enumeration has that member, else "unsupported_version"; any other market:
// "unsupported_market". A template over the enumeration so that an older engine set is checked too.
template <class Engine>
EnginePlan<Engine> plan_engines(const std::string& market) {
  if (market == "US") {
    if constexpr (requires { Engine::US_DUAL_CORE; }) {
      return {"available", {{"US_DUAL_CORE", Engine::US_DUAL_CORE}}};
    } else {
      return {"unsupported_version", {}};
    }
  }
  if (market == "A")
    return {"available", {{"ENGINE1_TREND", Engine::ENGINE1_TREND}, {"ENGINE2_REVERSAL", Engine::ENGINE2_REVERSAL}}};
  if (market == "ETF")
    return {"available",
            {{"ENGINE1_TREND", Engine::ENGINE1_TREND},
             {"ENGINE2_REVERSAL", Engine::ENGINE2_REVERSAL},
             {"ENGINE3_KAUFMAN", Engine::ENGINE3_KAUFMAN}}};
  return {"unsupported_market", {}};
}

// One engine's signal event as a record (members in a fixed order; unset prices become null when
// the map is written as JSON).
nlohmann::ordered_json signal_record(const zerith::SignalEvent& event);

// 将适用于当前市场的 zx-quant 策略信号整理为 LLM 可核验上下文。
// {"status", "market"} when no engine suits the market, else {"status": "available", "market",
// "engines": {name: record}} with one get_strategy_signal call per engine in plan order. An absent
// market type is a quorvel::TypeError naming "market_type"; an engine failure propagates.
nlohmann::ordered_json _build_strategy_signal_context(const tarnel::BarTable& df, const std::string& stock_code,
                                                      const std::optional<std::string>& market_type);

}  // namespace quorvel::strategy::ai
