// pelion: one AI trading analysis of one instrument for one day. Checks and normalises the date,
// skips an analysis that is already stored, prepares bars, indicator status and the technical
// screen's pattern information, obtains the market AI brief, has the AI selector write the
// analysis and the summary, logs both between banner lines and flushes the report store's queue.
// Everything the user sees goes through the shared logger (standard error and logs/); the
// analysis also gets its HTML page beside the Markdown report and a row in the report directory's
// index.html. With --format json standard output carries one JSON object with the result.
//
// Exit status: 0 when the analysis was stored (or was stored already), 1 when it failed (no bars,
// the analysis ended in its error trap, the brief failed), 2 for a usage error: a malformed or
// future date, a code that cannot be meant.
#include <cctype>
#include <chrono>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "contracts/report_store.h"
#include "quorvel/agent/solvara/market_brief.h"
#include "quorvel/analysis/analysis_claims.h"
#include "quorvel/analysis/analysis_steps.h"
#include "quorvel/runtime/command_dates.h"
#include "quorvel/pages/page_files.h"
#include "quorvel/report/sql_report_store.h"
#include "quorvel/runtime/runtime_services.h"
#include "quorvel/strategy/ai/basic_ai_selector.h"
#include "quorvel/strategy/ai/verdict.h"
#include "quorvel/utils/blocking.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/companion.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/run_sync.h"

namespace {

using quorvel::logger;
using Json = nlohmann::ordered_json;

// How the run ended, for the exit status and the JSON result.
struct RunOutcome {
  int status = 0;         // the exit status
  std::string state;      // "analysed", "stored", "failed"
  std::string error;      // why it failed
  quorvel::report::AnalysisKey key;
  std::optional<std::filesystem::path> page;
};

// Seconds on a steady clock: the elapsed-time line must not jump with the wall clock.
double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void log_texts(const std::string& report, const std::string& summary) {
  logger.info("\n===== 股票分析报告 =====");
  logger.info(report);
  logger.info("\n===== 分析报告结束 =====");
  logger.info("\n===== 投资建议总结 =====");
  logger.info(summary);
  logger.info("\n===== 总结结束 =====");
}

// Everything after the skip check and the claim: bars, brief, AI analysis, output. 0 when the
// analysis was stored, 1 when there were no bars or it ended in the error trap.
asio::awaitable<void> analyse_claimed(RunOutcome& outcome, std::string stock_code, quorvel::AnalysisDay day) {
  const double start_time = seconds_now();
  auto preparation = quorvel::run_blocking([&] { return quorvel::prepare_stock(stock_code, day); });
  quorvel::PreparedStock stock = co_await std::move(preparation);
  if (stock.df.empty()) {
    logger.error("获取股票数据失败: " + stock_code);
    outcome = {1, "failed", "获取股票数据失败: " + stock_code, outcome.key, std::nullopt};
    co_return;
  }
  auto brief_op = quorvel::agent::solvara::get_market_ai_brief(stock.market_type, day.date, false, true);
  const std::string market_ai_brief = co_await std::move(brief_op);
  if (market_ai_brief.empty() && stock.market_type)
    throw quorvel::RuntimeError("大盘 AI 简报生成失败 (" + *stock.market_type + ")，分析无法继续。");
  logger.info("正在分析股票...");
  quorvel::strategy::ai::BasicAISelector selector;
  auto analysis = selector.check_async({.stock_status = std::move(stock.stock_status),
                                        .df = std::move(stock.df),
                                        .pattern_info = std::move(stock.pattern_info),
                                        .selector_source = std::move(stock.selector_source),
                                        .analysis_time = day.date,
                                        .market_ai_brief = market_ai_brief,
                                        .data_note = stock.data_note});
  const quorvel::strategy::ai::AIAnalysisResult result = co_await std::move(analysis);
  log_texts(result.trader_response, result.summary_response);
  logger.info(fmt::format("\n执行时间: {:.2f} 秒", seconds_now() - start_time));
  quorvel::flush_store();
  if (result.trader_response.empty()) {
    outcome = {1, "failed", quorvel::strategy::ai::failure_reason(result.summary_response), outcome.key, std::nullopt};
  } else {
    outcome.state = "analysed";
  }
}

// The analysis' page and its row in the index; logs where the page is.
asio::awaitable<std::optional<std::filesystem::path>> write_page(quorvel::report::SqlReportStore& store,
                                                                  const quorvel::report::AnalysisKey& key) {
  auto write = quorvel::run_blocking([&store, key] { return quorvel::pages::write_page_and_index(store, key); });
  auto page = co_await std::move(write);
  if (page)
    logger.info("分析页面: " + page->string() + " (全部分析: " + (store.directory() / quorvel::pages::INDEX_FILE).string() +
                ")");
  co_return page;
}

asio::awaitable<bool> stored(const quorvel::report::AnalysisKey& key) {
  auto lookup = quorvel::run_blocking(
      [&] { return quorvel::report::default_storage().exists(key.code, key.date, key.llm_client_type); });
  co_return co_await std::move(lookup);
}

// Says the stored analysis is used, and that its plan needs review when a hard check failed.
asio::awaitable<void> log_skip(const quorvel::report::AnalysisKey& key) {
  logger.info("股票 " + key.code + " 在 " + key.date + " 的分析报告 (" + key.llm_client_type +
              ") 已存在，跳过执行。 (使用 --force 强制重新分析)");
  auto lookup = quorvel::run_blocking([&] { return quorvel::report::default_storage().stored_analysis(key); });
  const auto stored = co_await std::move(lookup);
  if (stored && stored->review_required)
    logger.warning("[规则核验] " + key.code + " " + key.date + " 已存储的交易计划需复核（未通过硬性规则核验）");
}

// LLM_CLIENT_TYPE in lower case, "deepseek" when unset: the client the skip check looks for.
std::string client_type() {
  std::string type = quorvel::env_value("LLM_CLIENT_TYPE").value_or("deepseek");
  for (char& c : type) c = char(std::tolower(static_cast<unsigned char>(c)));
  return type;
}

// The analysis of `stock_code` for the closed session `analysis_time`.
asio::awaitable<RunOutcome> analyze_stock(quorvel::report::SqlReportStore& store, std::string stock_code,
                                          std::string analysis_time, bool force) {
  logger.info("开始 AI 股票分析: stock=" + stock_code + ", analysis_time=" + analysis_time +
              ", force=" + (force ? "True" : "False"));
  const std::string llm_client_type = client_type();
  // The analysis is about the instrument's last bar on or before the day: the skip check, the
  // stored report and the brief all use that one date.
  auto day_op = quorvel::run_blocking([&] { return quorvel::analysis_day(stock_code, analysis_time); });
  const quorvel::AnalysisDay day = co_await std::move(day_op);
  const quorvel::report::AnalysisKey key{stock_code, day.date, llm_client_type};
  RunOutcome outcome{0, "stored", "", key, std::nullopt};
  if (!force) {
    auto lookup = stored(key);
    if (co_await std::move(lookup)) {
      auto skip = log_skip(key);
      co_await std::move(skip);
      auto page = write_page(store, key);
      outcome.page = co_await std::move(page);
      co_return outcome;
    }
  }
  // Another run analysing the same instrument-day is waited for; what it stored is not paid twice.
  quorvel::AnalysisClaims claims;
  auto take = claims.take(key);
  const quorvel::AnalysisClaims::Taken taken = co_await std::move(take);
  const bool waited = taken.waited;
  std::exception_ptr failure;
  try {
    auto again = stored(key);
    if ((waited || !force) && co_await std::move(again)) {
      auto skip = log_skip(key);
      co_await std::move(skip);
    } else {
      auto work = quorvel::with_companion(analyse_claimed(outcome, stock_code, day), claims.keep_renewed());
      co_await std::move(work);
    }
    if (outcome.status == 0) {
      auto page = write_page(store, key);
      outcome.page = co_await std::move(page);
    }
  } catch (...) {
    failure = std::current_exception();
  }
  auto release = claims.release(key);
  co_await std::move(release);
  if (failure) std::rethrow_exception(failure);
  co_return outcome;
}

// The result on standard output: code, day, verdict, decision, plan checks and the files.
void print_json(const RunOutcome& o, quorvel::report::SqlReportStore& store) {
  Json j = Json::object();
  j["code"] = o.key.code;
  j["date"] = o.key.date;
  j["llm_client_type"] = o.key.llm_client_type;
  j["status"] = o.state;
  if (!o.error.empty()) j["error"] = o.error;
  std::optional<quorvel::report::PageReport> stored;
  if (o.status == 0)
    if (const auto id = store.latest_analysis_id(o.key)) stored = store.page_report(*id);
  if (stored) {
    const auto& a = stored->analysis;
    j["name"] = a.stock_name;
    j["market_type"] = a.market_type ? Json(*a.market_type) : Json();
    const std::string verdict = quorvel::strategy::ai::stored_verdict(stored->summary);
    j["verdict"] = verdict.empty() ? Json() : Json(verdict);
    j["decision"] = stored->decision;
    j["plan_checks"] = stored->plan_checks;
    j["review_required"] = a.review_required;
    j["report"] = a.file ? Json((store.directory() / *a.file).string()) : Json();
  }
  j["page"] = o.page ? Json(o.page->string()) : Json();
  std::cout << j.dump(2, ' ', false, Json::error_handler_t::replace) << std::endl;
}

// The date checks before the analysis: the day to analyse, or why the run stops here (already
// logged; a usage error: exit status 2).
struct CheckedDate {
  std::optional<std::string> date;
  std::string error;
};

CheckedDate checked_date(const std::string& stock_code, std::string analysis_time) {
  try {
    if (quorvel::is_future_date(analysis_time)) {
      const std::string why = "输入日期 " + analysis_time + " 是未来日期，系统将直接退出。";
      logger.warning(why);
      return {std::nullopt, why};
    }
    const std::string original_date = analysis_time;
    analysis_time = quorvel::market_end_date(stock_code, analysis_time);
    if (analysis_time != original_date)
      logger.info("日期已从 " + original_date + " 调整为 " + analysis_time + " (由于市场未收盘或非交易日)");
    return {analysis_time, ""};
  } catch (const quorvel::ValueError&) {
    const std::string why = "日期格式错误: " + analysis_time + "，应为 YYYY-MM-DD";
    logger.error(why);
    return {std::nullopt, why};
  }
}

int run(const std::string& raw_code, const std::string& analysis_time, bool force, bool json) {
  const auto store = quorvel::install_runtime_services();
  // A run that stops early still answers a script with one JSON object.
  const auto stopped = [&](int status, const std::string& code, const std::string& day, const std::string& why) {
    if (json) print_json({status, "failed", why, {code, day, client_type()}, std::nullopt}, *store);
    return status;
  };
  std::string stock_code;
  try {
    stock_code = quorvel::analysis_code(raw_code);
  } catch (const quorvel::ValueError& e) {
    logger.error(e.what());
    return stopped(2, raw_code, analysis_time, e.what());
  }
  const CheckedDate checked = checked_date(stock_code, analysis_time);
  if (!checked.date) return stopped(2, stock_code, analysis_time, checked.error);
  RunOutcome outcome;
  try {
    outcome = quorvel::run_sync(analyze_stock(*store, stock_code, *checked.date, force));
  } catch (const std::exception& e) {
    stopped(1, stock_code, *checked.date, e.what());
    throw;
  }
  if (json) print_json(outcome, *store);
  return outcome.status;
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("pelion", [&]() -> int {
    quorvel::load_quorvel_env();
    CLI::App app{"股票分析命令行工具", "pelion"};
    std::string stock_code, analysis_time = quorvel::today_text();
    bool force = false;
    std::string format = "text";
    app.add_option("-s,--stock_code", stock_code, "股票代码，如：sh.600000、hk.00001、us.AAPL、510050")->required();
    app.add_option("-t,--analysis_time", analysis_time, "股票K线的日期，格式：YYYY-MM-DD (默认: 今天)");
    app.add_flag("--force", force, "强制重新分析，即使报告已存在");
    app.add_option("--format", format, "结果输出: text (只写日志，默认) 或 json (标准输出打印一个 JSON 对象)")
        ->check(CLI::IsMember({"text", "json"}));
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;

    quorvel::setup_logging((std::filesystem::current_path() / "logs").string(), "INFO");
    return run(stock_code, analysis_time, force, format == "json");
  });
}
