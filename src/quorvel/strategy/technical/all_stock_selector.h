#pragma once
// Passes every instrument that has bars; runs no scan.
#include "quorvel/strategy/base/selector_base.h"

namespace quorvel::strategy::technical {

class AllStockSelector : public StockSelector {
 public:
  AllStockSelector();  // logs "AllStockSelector init"
  SelectorCheckResult check(const std::string& code, const std::string& start_date, const std::string& end_date,
                            const nlohmann::ordered_json& options = nlohmann::ordered_json::object()) override;
};

}  // namespace quorvel::strategy::technical
