#pragma once
// LLM analysis replies for the AI selector tests: prose followed by a fenced decision JSON of
// 贵州茅台 (sh.600519) on 2023-02-10, with members changed or removed (null) by the caller.
#include <string>

#include <nlohmann/json.hpp>

namespace quorvel::testing {

inline nlohmann::ordered_json buy_decision(const nlohmann::ordered_json& changes = nlohmann::ordered_json::object()) {
  nlohmann::ordered_json d = {{"stock_code", "sh.600519"},
                              {"stock_name", "贵州茅台"},
                              {"analysis_time", "2023-02-10"},
                              {"current_price", 1810.0},
                              {"direction", "看多"},
                              {"action", "建议买入"},
                              {"strategy_mode", "底部反转"},
                              {"entry_price_low", 1790},
                              {"entry_price_high", 1805},
                              {"stop_loss", 1750},
                              {"target_1", 1880},
                              {"target_2", 1950},
                              {"rrr", 1.6},
                              {"rrr_max", 2.8},
                              {"position_pct", "10%"},
                              {"confidence", "中"},
                              {"key_watch", "量能能否持续"}};
  d.merge_patch(changes);
  return d;
}

inline std::string fenced(const nlohmann::ordered_json& decision) { return "```json\n" + decision.dump(2) + "\n```\n"; }

inline std::string decision_reply(const nlohmann::ordered_json& changes = nlohmann::ordered_json::object()) {
  return "## Step 6 决策\n分析正文。\n" + fenced(buy_decision(changes));
}

}  // namespace quorvel::testing
