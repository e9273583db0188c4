#include "quorvel/agent/offline/offline_stock_decision.h"

#include <cmath>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "quorvel/agent/schemas/decision.h"
#include "quorvel/agent/schemas/extract.h"

namespace quorvel::agent::offline {

namespace {

std::string quoted(const std::string& text) { return nlohmann::json(text).dump(); }

// Reals with exactly three decimals, as the prompt's output rules ask; NaN is written as 0.
std::string real(double v) { return fmt::format("{:.3f}", std::isfinite(v) ? v : 0.0); }

}  // namespace

std::string decision_json_text(const StockPromptFacts& f, const TradePlan& p) {
  const std::pair<const char*, std::string> fields[] = {{"stock_code", quoted(f.stock_code)},
                                                        {"stock_name", quoted(f.stock_name)},
                                                        {"analysis_time", quoted(f.analysis_time)},
                                                        {"current_price", real(f.current_price)},
                                                        {"direction", quoted(p.direction)},
                                                        {"action", quoted(p.action)},
                                                        {"holder_action", quoted(p.holder_action)},
                                                        {"strategy_mode", quoted(p.strategy_mode)},
                                                        {"entry_price_low", real(p.entry_low)},
                                                        {"entry_price_high", real(p.entry_high)},
                                                        {"stop_loss", real(p.stop_loss)},
                                                        {"target_1", real(p.target_1)},
                                                        {"target_2", real(p.target_2)},
                                                        {"rrr", real(p.rrr)},
                                                        {"rrr_max", real(p.rrr_max)},
                                                        {"support_price", real(p.support)},
                                                        {"resistance_price", real(p.resistance)},
                                                        {"position_pct", std::to_string(p.position_pct)},
                                                        {"holding_period", quoted(p.holding_period)},
                                                        {"confidence", quoted(p.confidence)},
                                                        {"risk_level", quoted(p.risk_level)},
                                                        {"market_sentiment", quoted(p.market_sentiment)},
                                                        {"key_watch", quoted(p.key_watch)}};
  std::string out = "{\n";
  for (const auto& [key, value] : fields) out += fmt::format("  \"{}\": {},\n", key, value);
  out.erase(out.size() - 2, 1);  // no comma after the last member
  return out + "}";
}

std::optional<std::vector<schemas::PlanCheck>> emitted_plan_checks(const StockPromptFacts& f, const TradePlan& p) {
  try {
    const auto map = schemas::extract_decision_json("```json\n" + decision_json_text(f, p) + "\n```\n");
    if (!map) return std::nullopt;
    return schemas::check_plan(schemas::StockDecision::from_map(*map), f.pattern);
  } catch (const std::exception&) {
    return std::nullopt;  // a block the extractor throws on is as unusable as one it rejects
  }
}

}  // namespace quorvel::agent::offline
