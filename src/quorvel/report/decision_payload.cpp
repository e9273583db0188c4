#include "quorvel/report/decision_payload.h"

#include "quorvel/utils/logger.h"

#ifdef QUORVEL_REPORT_HAS_SCHEMAS
#include "quorvel/agent/schemas/decision.h"
#include "quorvel/agent/schemas/extract.h"
#endif

namespace quorvel::report {

std::optional<nlohmann::ordered_json> decision_from_analysis(std::string_view content) {
#ifdef QUORVEL_REPORT_HAS_SCHEMAS
  try {
    std::optional<nlohmann::ordered_json> map = agent::schemas::extract_decision_json(content);
    if (!map || map->empty()) return std::nullopt;
    return agent::schemas::StockDecision::from_map(*map).to_json();
  } catch (const std::exception& e) {
    logger.warning("[报告存储] 决策记录无效，消息中 decision 为 null: %s", e.what());
    return std::nullopt;
  }
#else
  (void)content;
  static const bool logged = [] {
    logger.warning("[报告存储] 本构建未包含决策解析库，分析消息中的 decision 一律为 null");
    return true;
  }();
  (void)logged;
  return std::nullopt;
#endif
}

}  // namespace quorvel::report
