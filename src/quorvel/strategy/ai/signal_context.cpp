#include "quorvel/strategy/ai/signal_context.h"

#include "contracts/errors.h"

namespace quorvel::strategy::ai {

using Json = nlohmann::ordered_json;

Json signal_record(const zerith::SignalEvent& event) {
  return Json{{"strategy_name", event.strategy_name},
              {"date", event.date},
              {"buy_signal", event.buy_signal},
              {"sell_signal", event.sell_signal},
              {"signal_tier", event.signal_tier},
              {"state", event.state},
              {"stop_loss", event.stop_loss},
              {"take_profit", event.take_profit},
              {"reason", event.reason},
              {"details", event.details}};
}

Json _build_strategy_signal_context(const tarnel::BarTable& df, const std::string& stock_code,
                                    const std::optional<std::string>& market_type) {
  if (!market_type) throw TypeError("market_type 必须是文本，收到 None");
  const auto plan = plan_engines<zerith::StrategyEngine>(*market_type);
  if (plan.status != "available") return Json{{"status", plan.status}, {"market", *market_type}};
  Json engines = Json::object();
  for (const auto& [name, engine] : plan.engines)
    engines[name] = signal_record(zerith::get_strategy_signal(engine, df, stock_code));
  return Json{{"status", "available"}, {"market", *market_type}, {"engines", std::move(engines)}};
}

}  // namespace quorvel::strategy::ai
