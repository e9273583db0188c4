#include "quorvel/strategy/technical/all_stock_selector.h"

#include "contracts/market_data.h"
#include "quorvel/indicators/status_computation.h"
#include "quorvel/strategy/technical/scan_selector.h"
#include "quorvel/utils/logger.h"

namespace quorvel::strategy::technical {

AllStockSelector::AllStockSelector() { logger.info("AllStockSelector init"); }

SelectorCheckResult AllStockSelector::check(const std::string& code, const std::string& start_date,
                                            const std::string& end_date, const nlohmann::ordered_json&) {
  tarnel::BarTable df = tarnel::get_any_ohlc(code, start_date, end_date);
  if (df.empty()) return no_data_result(code, std::move(df), "ALL");
  SelectorCheckResult r;
  r.passed = true;
  r.stock_status = indicators::get_stock_status(df, code);
  r.df = std::move(df);
  r.strategy_type = "ALL";
  return r;
}

}  // namespace quorvel::strategy::technical
