#include "quorvel/strategy/ai/decision_report.h"

#include "quorvel/agent/schemas/decision.h"
#include "quorvel/agent/schemas/extract.h"
#include "quorvel/agent/schemas/plan_checks.h"
#include "quorvel/strategy/ai/analysis_context.h"
#include "quorvel/strategy/ai/constraints.h"
#include "quorvel/utils/logger.h"

namespace quorvel::strategy::ai {

namespace {

using Json = nlohmann::ordered_json;

bool is_checked_mode(const std::string& mode) { return mode == "趋势跟随" || mode == "底部反转" || mode == "区间震荡"; }

}  // namespace

std::string model_label(const agent::StockAgent& agent) {
  return agent.model_name ? *agent.model_name : std::string(DEFAULT_MODEL_LABEL);
}

std::string with_failed_checks(std::string summary, const std::vector<std::string>& failed_lines,
                               bool review_required) {
  if (failed_lines.empty()) return summary;
  std::string section = "###### 🧾 规则核验" + std::string(review_required ? "（需复核）" : "") + "\n";
  if (review_required) section += "**交易计划未通过硬性规则核验，不可照原样执行。**\n";
  for (const auto& line : failed_lines) section += "- " + line + "\n";
  const std::size_t disclaimer = summary.rfind("*免责声明");
  const std::size_t rule = disclaimer == std::string::npos ? std::string::npos : summary.rfind("---", disclaimer);
  if (rule == std::string::npos) {
    if (!summary.empty() && summary.back() != '\n') summary += '\n';
    return summary + "\n" + section;
  }
  return summary.insert(rule, section + "\n");
}

DecisionSummary summarize_reply(const std::string& trader_response, const agent::StockAgent& agent,
                                const agent::schemas::AnalysedInstrument& instrument, const Json& pattern_info) {
  DecisionSummary out;
  out.decision_dict = agent::schemas::extract_decision_json(trader_response);
  if (out.decision_dict && !out.decision_dict->empty()) {
    const auto decision = agent::schemas::StockDecision::from_map(*out.decision_dict);
    if (auto why = agent::schemas::implausible_decision(decision, instrument)) {
      logger.warning("[决策校验] %s %s 的决策不可执行，按无决策处理: %s", instrument.code, instrument.date, *why);
      out.refusal = std::move(*why);
      out.decision_dict.reset();
    } else {
      out.decision = decision.to_json();
      const auto checks = agent::schemas::check_plan(decision, pattern_info);
      out.plan_checks = agent::schemas::plan_checks_json(checks);
      out.review_required = agent::schemas::review_required(checks);
      const auto failed = agent::schemas::failed_check_lines(checks);
      if (out.review_required)
        logger.warning("[规则核验] %s %s 需复核: %s", instrument.code, instrument.date, failed.front());
      else if (!failed.empty())
        logger.info("[规则核验] %s %s 提示: %s", instrument.code, instrument.date, failed.front());
      out.summary_response = with_failed_checks(agent::build_summary_markdown_report(decision, model_label(agent)),
                                                failed, out.review_required);
      return out;
    }
  }
  out.summary_response = "> **LLM**: " + model_label(agent) + "\n\n未能成功提取到决策，建议继续观望。";
  return out;
}

void reconcile_with_pre_screen(const std::string& stock_code, const Json& decision_dict, const Json& pattern_info_dict,
                               const Json& constraints) {
  const auto mode_it = decision_dict.find("strategy_mode");
  const std::string d_mode = mode_it != decision_dict.end() && mode_it->is_string() ? mode_it->get<std::string>() : "";
  const std::string hint_l = lowered_strategy_hint(pattern_info_dict);
  const bool hint_bottom = is_bottom_hint(hint_l);
  if (!is_checked_mode(d_mode) || (d_mode == "底部反转") == hint_bottom) return;
  logger.warning("[预筛对账] " + stock_code + " strategy_hint=" + (hint_l.empty() ? "无" : hint_l) +
                 " 与 AI strategy_mode=" + d_mode +
                 " 前提不一致 | base_confidence_score=" + scalar_text(constraints["base_confidence_score"]) +
                 " / max_position_pct=" + scalar_text(constraints["max_position_pct"]) + " 按预筛假设计算");
}

report::AnalysisReport analysis_record(const ReportFields& f, const std::string& content,
                                       const DecisionSummary& decided, const agent::StockAgent& agent) {
  return report::AnalysisReport{.stock_code = f.stock_code,
                                .stock_name = f.stock_name,
                                .content = content,
                                .analysis_time = f.analysis_time,
                                .market_type = f.market_type,
                                .current_price = f.current_price,
                                .llm_client_type = agent.llm_client_type.value_or(""),
                                .llm_model = agent.model_name.value_or(""),
                                .decision = decided.decision,
                                .data_note = f.data_note,
                                .plan_checks = decided.decision.is_null() ? std::nullopt
                                                                          : std::optional<Json>(decided.plan_checks),
                                .review_required = decided.review_required,
                                .levels = f.levels.is_null() ? std::nullopt : std::optional<Json>(f.levels)};
}

Json prescreen_levels(const Json& pattern_info) {
  Json levels = Json::object();
  if (pattern_info.is_object()) {
    const auto price = pattern_info.find("price_context");
    if (price != pattern_info.end() && price->is_object())
      for (const char* key : {"support", "resistance"}) {
        const auto v = price->find(key);
        if (v != price->end() && v->is_number() && v->get<double>() > 0) levels[key] = *v;
      }
  }
  return levels.empty() ? Json() : levels;
}

report::SummaryReport summary_record(const ReportFields& f, const std::string& content,
                                     const agent::StockAgent& agent) {
  return report::SummaryReport{.stock_code = f.stock_code,
                               .stock_name = f.stock_name,
                               .content = content,
                               .analysis_time = f.analysis_time,
                               .current_price = f.current_price,
                               .llm_client_type = agent.llm_client_type.value_or(""),
                               .llm_model = agent.model_name.value_or(""),
                               .data_note = f.data_note,
                               .review_required = f.review_required};
}

void store_reports(const report::AnalysisReport& analysis, const report::SummaryReport& summary) {
  logger.info("正在异步存储分析结果: " + analysis.stock_code);
  report::ReportStore& store = report::default_storage();
  store.save_analysis_with_summary(analysis, summary);
  store.flush();
}

}  // namespace quorvel::strategy::ai
