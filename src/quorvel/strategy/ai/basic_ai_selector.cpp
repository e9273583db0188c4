#include "quorvel/strategy/ai/basic_ai_selector.h"

#include <exception>
#include <filesystem>
#include <tuple>
#include <utility>


#include "contracts/clock.h"
#include "quorvel/strategy/ai/analysis_context.h"
#include "quorvel/strategy/ai/date_alignment.h"
#include "quorvel/strategy/ai/decision_report.h"
#include "quorvel/strategy/ai/analysis_audit.h"
#include "quorvel/strategy/ai/verdict.h"
#include "quorvel/strategy/technical/combined_selector.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/run_sync.h"
#include "quorvel/utils/number_text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::strategy::ai {

namespace {

// Characters of the summary shown in the log line.
constexpr std::size_t SUMMARY_LOG_CHARS = 100;

// The state of one analysis from the LLM call on; what the error trap needs to report.
struct Progress {
  std::string a_time;
  std::optional<std::string> reply;              // set as soon as the model answered
  std::optional<std::filesystem::path> audit;    // the analysis' audit file, once written
  AnalysisAudit record;
  std::string summary_response;
};

// Writes the audit file in its current state; a failure to write it is logged and the analysis
// goes on (storing the reply is what matters). True when written.
bool write_audit_file(Progress& progress) {
  try {
    if (!progress.audit) progress.audit = audit_file_path(progress.record.stock_code, progress.a_time);
    progress.record.analysis_time = progress.a_time;
    write_audit(*progress.audit, progress.record);
    return true;
  } catch (const std::exception& e) {
    logger.warning("[审计] 审计文件写入失败，继续存储分析: " + std::string(e.what()));
    return false;
  }
}

agent::StockAnalysisInputs llm_inputs(const AnalysisContext& ctx, const AIAnalysisRequest& request,
                                      const AlignedDate& date) {
  return agent::StockAnalysisInputs{.stock_code = ctx.stock_code,
                                    .market_type = ctx.market_type,
                                    .stock_name = ctx.stock_name,
                                    .analysis_time = date.a_time,
                                    .current_price = number_text(request.stock_status.price),
                                    .stock_data = ctx.ohlc_data,
                                    .stock_week_data = ctx.ohlc_data_week,
                                    .pattern_info = ctx.pattern_info,
                                    .selector_source = ctx.strategy_text + request.selector_source,
                                    .market_ai_brief = request.market_ai_brief,
                                    .pct_change = date.pct_change};
}

// Everything after the LLM's answer up to the stored reports; throws into the error trap.
void handle_reply(const AnalysisContext& ctx, const AIAnalysisRequest& request, Progress& progress) {
  const double close = request.stock_status.price.value();
  DecisionSummary decided =
      summarize_reply(*progress.reply, *ctx.agent, {ctx.stock_code, progress.a_time, close}, ctx.pattern_info_dict);
  if (decided.decision_dict && !decided.decision_dict->empty())
    reconcile_with_pre_screen(ctx.stock_code, *decided.decision_dict, ctx.pattern_info_dict, ctx.constraints);
  progress.record.decision = decided.decision;
  progress.record.plan_checks = decided.decision.is_null() ? nlohmann::ordered_json() : decided.plan_checks;
  progress.record.review_required = decided.review_required;
  const ReportFields fields{ctx.stock_code,      ctx.stock_name,          progress.a_time,
                            ctx.market_type,     close,                   request.data_note,
                            decided.review_required, prescreen_levels(ctx.pattern_info_dict)};
  store_reports(analysis_record(fields, *progress.reply, decided, *ctx.agent),
                summary_record(fields, decided.summary_response, *ctx.agent));
  const bool usable = !decided.decision.is_null();
  progress.record.outcome =
      usable ? "已存储" : "无可用决策: " + (decided.refusal.empty() ? std::string("回复中没有决策 JSON") : decided.refusal);
  if (write_audit_file(progress) && !usable)
    logger.warning("[审计] 回复中没有可用的决策，LLM 原始回复保留在审计文件: " + progress.audit->string());
  progress.summary_response = std::move(decided.summary_response);
}

// The LLM call and the handling of its reply (the part of the analysis inside the error trap).
asio::awaitable<void> ask_and_decide(const AnalysisContext& ctx, const AIAnalysisRequest& request, Progress& progress) {
  progress.a_time =
      request.analysis_time.empty() ? tarnel::date_text(tarnel::Date{clock().today_local()}) : request.analysis_time;
  logger.info("开始分析股票 " + ctx.stock_code + " (" + ctx.stock_name + ") 在 " + progress.a_time);
  const AlignedDate date = align_analysis_date(ctx.daily, request.stock_status.price.value(), progress.a_time);
  progress.a_time = date.a_time;
  const agent::StockAnalysisInputs inputs = llm_inputs(ctx, request, date);
  auto analyze = ctx.agent->analyze(inputs);
  progress.reply = co_await std::move(analyze);
  AnalysisAudit& record = progress.record;
  record.stock_code = ctx.stock_code;
  record.llm_client_type = ctx.agent->llm_client_type.value_or("");
  record.llm_model = model_label(*ctx.agent);
  record.outcome = "已收到回复";
  std::tie(record.system_message, record.user_message) = ctx.agent->prompt_messages(inputs);
  record.reply = *progress.reply;
  record.calculated_constraints = ctx.constraints;
  record.trading_rules = ctx.pattern_info_dict.value("trading_rules", nlohmann::ordered_json());
  write_audit_file(progress);
  handle_reply(ctx, request, progress);
}

asio::awaitable<void> release_client(agent::StockAgent& agent) {
  if (!agent.client) co_return;
  try {
    auto close = agent.client->close();
    co_await std::move(close);
  } catch (const std::exception& e) {
    logger.debug("关闭 LLM 客户端失败: %s", e.what());
  }
}

// The neutral result of a failed analysis; a reply the model already sent is kept in an audit file.
AIAnalysisResult failed_result(const AnalysisContext& ctx, const AIAnalysisRequest& request, Progress& progress,
                               const std::string& error) {
  logger.error("AI分析股票 " + ctx.stock_code + " 出错: " + error);
  if (progress.reply) {
    progress.record.outcome = "出错: " + error;
    if (write_audit_file(progress))
      logger.error("[审计] 已把 LLM 原始回复保存到审计文件: " + progress.audit->string());
  }
  return {TradeEnum::WATCH, ctx.stock_code, request.stock_status, std::string(FAILED_SUMMARY_PREFIX) + error, ""};
}

}  // namespace

std::string failure_reason(const std::string& summary) {
  if (summary.rfind(FAILED_SUMMARY_PREFIX, 0) == 0) return summary.substr(FAILED_SUMMARY_PREFIX.size());
  return summary.empty() ? "分析失败" : summary;
}

SelectorCheckResult BasicAISelector::check(const std::string& code, const std::string& start_date,
                                           const std::string& end_date, const nlohmann::ordered_json& options) {
  return technical::CombinedSelector().check(code, start_date, end_date, options);
}

AICheckResult BasicAISelector::check(const indicators::StockStatus& stock_status, const tarnel::BarTable& df,
                                     const std::string& pattern_info, const std::string& selector_source,
                                     const std::string& analysis_time, const std::string& market_ai_brief) {
  return _check_as_ai_selector({stock_status, df, pattern_info, selector_source, analysis_time, market_ai_brief, ""});
}

asio::awaitable<AIAnalysisResult> BasicAISelector::check_async(AIAnalysisRequest request) {
  const AnalysisContext ctx = prepare_analysis_context(request);
  Progress progress;
  std::optional<std::string> error;
  try {
    auto run = ask_and_decide(ctx, request, progress);
    co_await std::move(run);
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "未知错误";
  }
  auto release = release_client(*ctx.agent);
  co_await std::move(release);
  if (error) co_return failed_result(ctx, request, progress, *error);

  logger.info("总结分析报告: " + std::string(prefix_code_points(progress.summary_response, SUMMARY_LOG_CHARS)) + "...");
  const SummaryVerdict verdict = summary_verdict(progress.summary_response);
  co_return AIAnalysisResult{verdict.trade_enum, request.stock_status.code, request.stock_status,
                             std::move(progress.summary_response), std::move(*progress.reply)};
}

AICheckResult BasicAISelector::_check_as_ai_selector(AIAnalysisRequest request) {
  AIAnalysisResult result = run_sync(check_async(std::move(request)));
  return {result.trade_enum, std::move(result.stock_code), std::move(result.stock_status),
          std::move(result.summary_response)};
}

}  // namespace quorvel::strategy::ai
