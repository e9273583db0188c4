#include "quorvel/agent/offline/offline_stock_analyst.h"

#include "quorvel/agent/offline/offline_stock_decision.h"
#include "quorvel/agent/offline/offline_stock_sections.h"

namespace quorvel::agent::offline {

std::string write_offline_stock_analysis(const StockPromptFacts& facts) {
  const StockReading reading = read_stock(facts);
  const TradePlan plan = plan_trade(facts, reading);
  const SectionInputs in{facts, reading, plan};
  std::string out =
      std::string(OFFLINE_ANALYSIS_LABEL) +
      "：本报告由内置确定性规则根据提示词中的K线、指标、pattern_info 与大盘简报生成，未调用大语言模型。\n\n";
  const std::string json_block = "```json\n" + decision_json_text(facts, plan) + "\n```\n";
  bool json_written = false;
  for (const auto& h : facts.headings) {
    out += h.line + "\n";
    if (h.number == "6") {
      out += json_block;
      json_written = true;
      continue;
    }
    std::string body = evidence_section(h.number, in);
    if (body.empty()) body = decision_section(h.number, in);
    out += (body.empty() ? "（离线规则分析不覆盖本节。）\n" : body) + "\n";
  }
  if (!json_written) out += "### 6. 结构化决策摘要\n" + json_block;
  return out;
}

}  // namespace quorvel::agent::offline
