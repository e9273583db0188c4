#include "quorvel/agent/offline/offline_stock_analyst.h"

#include <cmath>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "quorvel/agent/offline/offline_stock_sections.h"

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
