#include "quorvel/report/decision_payload.h"

#include "quorvel/agent/schemas/decision.h"
#include "quorvel/agent/schemas/extract.h"
#include "quorvel/utils/logger.h"

namespace quorvel::report {

std::optional<nlohmann::ordered_json> decision_from_analysis(std::string_view content) {
  try {
    std::optional<nlohmann::ordered_json> map = agent::schemas::extract_decision_json(content);
    if (!map || map->empty()) return std::nullopt;
    return agent::schemas::StockDecision::from_map(*map).to_json();
  } catch (const std::exception& e) {
    logger.warning("[报告存储] 决策记录无效，消息中 decision 为 null: %s", e.what());
    return std::nullopt;
  }
}

}  // namespace quorvel::report
