#pragma once
// Selector base classes. A selector screens one instrument and answers with the six-field check
// result; `TradeEnum` is the indicator module's own enumeration.
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"
#include "quorvel/indicators/stock_status.h"

namespace quorvel::strategy {

using indicators::TradeEnum;

struct SelectorCheckResult {
  bool passed = false;
  std::optional<indicators::StockStatus> stock_status;
  tarnel::BarTable df;
  std::string pattern_info_str;
  double score = 0.0;
  std::string strategy_type;
};

class StockSelector {
 public:
  virtual ~StockSelector() = default;
  // Screens `code` on its daily bars in [start_date, end_date]; `options` are extra named options.
  virtual SelectorCheckResult check(const std::string& code, const std::string& start_date,
                                    const std::string& end_date,
                                    const nlohmann::ordered_json& options = nlohmann::ordered_json::object()) = 0;
};

class AISelector : public StockSelector {};

}  // namespace quorvel::strategy
