#pragma once
// What the plan ledger says of a stored plan, in words for the report pages.
#include <string>

#include <nlohmann/json.hpp>

namespace quorvel::pages {

// One short cell for the index: "+1.50R 目标1", "-1.00R 止损", "未成交", "观望 +2.10%", "无法评分",
// "待评分" while the ledger has no final result.
std::string outcome_cell(const std::string& status, const nlohmann::ordered_json& score);

// The sign of the result for colouring: 1 gain, -1 loss, 0 neither or not known.
int outcome_sign(const std::string& status, const nlohmann::ordered_json& score);

// The full account for the analysis page, as HTML (a paragraph and a small table).
std::string outcome_html(const std::string& status, const nlohmann::ordered_json& score);

}  // namespace quorvel::pages
