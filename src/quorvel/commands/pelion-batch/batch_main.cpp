// pelion-batch: the AI analysis of every instrument of a watchlist for one day, several at a time,
// sharing one market brief per market and day. Resumes: what is stored is skipped unless forced.
// Standard error shows a line per instrument (and, on a terminal, the progress); standard output
// ends with the table of verdicts and decisions and the cost of the run, or with nothing but the
// same results as CSV or one JSON object (--format).
//
// With --queue redis://..., the instruments left to analyse go to pelion-worker processes (on this
// host or others) through the work queue (analysis/work_queue.h); this process follows their
// results and ends with the same report, the cost line adding up what the workers spent. Ctrl-C
// withdraws what no worker has taken yet and closes the report at once; the analyses under way on
// the workers are finished and stored by them.
//
// Exit status: 0 when every instrument is analysed or was stored, 1 when one failed (or the run
// could not start), 2 for a usage or date error, 130 after Ctrl-C (SIGINT/SIGTERM). A first Ctrl-C
// starts nothing new and lets the analyses under way finish; a second one ends at once. Either way
// what finished is stored and published and the table shows what was done.
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include <asio/co_spawn.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <unistd.h>

#include "contracts/errors.h"
#include "quorvel/agent/core/provider_config.h"
#include "quorvel/agent/core/usage_ledger.h"
#include "quorvel/analysis/analysis_steps.h"
#include "quorvel/analysis/batch_report.h"
#include "quorvel/analysis/batch_runner.h"
#include "quorvel/commands/pelion-batch/batch_console.h"
#include "quorvel/commands/pelion-batch/queued_job.h"
#include "quorvel/pages/page_files.h"
#include "quorvel/report/redis_connection.h"
#include "quorvel/runtime/command_dates.h"
#include "quorvel/runtime/pool_members.h"
#include "quorvel/runtime/runtime_services.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/run_sync.h"
#include "tarnel/code_list.h"

namespace {

using namespace quorvel::batch;
using quorvel::logger;

constexpr int EXIT_INTERRUPTED = 130;

struct Options {
  std::string pool, date = quorvel::today_text();
  int concurrency = DEFAULT_CONCURRENCY;
  bool force = false, verbose = false;
  double max_exposure = DEFAULT_MAX_EXPOSURE_PCT;  // percent of the account per market and day
  std::string format = RESULT_FORMATS.front();
  std::string queue;  // redis://... : analysed by pelion-worker processes instead of this one
};

// The closing report on standard output in the chosen format (table: with the counts and cost).
void print_results(const Options& options, const std::vector<Outcome>& outcomes,
                   const quorvel::agent::core::UsageTotals& usage, Clock::time_point start) {
  const Closing closing{options.date, outcomes, options.max_exposure, usage, seconds_since(start)};
  for (const Exposure& e : exposures(closing.outcomes))
    if (e.total_pct > closing.max_exposure_pct + 1e-9 || !e.unreadable.empty())
      logger.warning("[仓位合计] " + exposure_line(e, closing.max_exposure_pct));
  print_closing(std::cout, std::cerr, options.format, closing);
}

// The closing report of a run in this process: the LLM usage is this process's.
struct Results {
  const BatchRun& batch;
  const Options& options;
  Clock::time_point start;
  quorvel::agent::core::UsageTotals usage_before = quorvel::agent::core::usage_ledger().totals();

  void print() const {
    print_results(options, batch.outcomes(), quorvel::agent::core::usage_ledger().totals().since(usage_before), start);
  }
};

// Ctrl-C (SIGINT, SIGTERM): the first stops new analyses; the second prints what is done and ends
// the process at once (every finished analysis is already stored; the queue is flushed).
void watch_interrupts(asio::signal_set& signals, BatchRun& batch, Console& console, const Results& results) {
  signals.async_wait([&](std::error_code ec, int) {
    if (ec) return;
    console.clear();
    if (batch.stop_requested()) {
      batch.abandon();
      results.print();
      quorvel::flush_store();
      logger.backend().flush();
      std::_Exit(EXIT_INTERRUPTED);
    }
    batch.request_stop();
    logger.warning("收到中断信号：不再开始新的分析，等待进行中的分析完成（再按一次 Ctrl-C 立即结束）");
    watch_interrupts(signals, batch, console, results);
  });
}

int exit_status(const BatchRun& batch) {
  if (batch.stop_requested()) return EXIT_INTERRUPTED;
  return count_outcomes(batch.outcomes()).failed > 0 ? 1 : 0;
}

std::string client_type() {
  namespace core = quorvel::agent::core;
  return core::selected_client_type(core::process_env());
}

// The provider settings the analyses will be built from; a ValueError names what is missing.
void check_model_settings() {
  namespace core = quorvel::agent::core;
  core::resolve_provider_config(core::process_env());
}

// The page of each analysis this run stored (and of a stored one that has none yet), then the index
// pages once. A page that cannot be written is logged; the analyses are stored either way.
void write_pages(quorvel::report::SqlReportStore& store, const std::vector<Outcome>& outcomes,
                 const std::string& client) {
  std::size_t pages = 0;
  for (const Outcome& o : outcomes) {
    if (o.status != Status::analysed && o.status != Status::stored) continue;
    const auto page = quorvel::pages::analysis_page_path(o.code, o.date, client);
    if (o.status == Status::stored && std::filesystem::exists(store.directory() / page)) continue;
    try {
      if (const auto id = store.latest_analysis_id({o.code, o.date, client})) {
        quorvel::pages::write_analysis_page(store, *id);
        ++pages;
      }
    } catch (const std::exception& e) {
      logger.warning("[报告页面] %s %s 的页面未能写出: %s", o.code, o.date, e.what());
    }
  }
  try {
    const auto index = quorvel::pages::write_index_pages(store);
    std::fprintf(stderr, "分析页面已写出 %zu 个；全部分析 (%zu 份): %s\n", pages, index.analyses,
                 index.index.string().c_str());
  } catch (const std::exception& e) {
    logger.warning(std::string("[报告页面] 页面未能全部写出 (可运行 quorvel-reports html 重写): ") + e.what());
  }
}

// --queue: the instruments go to pelion-worker processes through Redis; this process plans the run
// (what is stored is not queued), follows the results and closes it like a local run.
int run_queued(const Options& opt, std::vector<std::string> codes) {
  const auto start = Clock::now();
  const auto endpoint = quorvel::report::RedisEndpoint::parse(opt.queue, "--queue");
  const auto store = quorvel::install_runtime_services();
  logger.info("批量分析 (任务队列 %s): %d 只标的, 日期 %s%s", endpoint.describe(), codes.size(), opt.date,
              opt.force ? ", 强制重新分析" : "");
  Console console(opt.verbose);
  QueuedJob job(endpoint, {std::move(codes), opt.date, opt.concurrency, opt.force, client_type()}, console, start);
  try {
    job.run();
  } catch (...) {
    console.clear();
    print_results(opt, job.outcomes(), job.usage(), start);
    throw;
  }
  console.clear();
  print_results(opt, job.outcomes(), job.usage(), start);
  quorvel::flush_store();
  write_pages(*store, job.outcomes(), client_type());
  if (job.interrupted()) return EXIT_INTERRUPTED;
  return count_outcomes(job.outcomes()).failed > 0 ? 1 : 0;
}

int run(const Options& opt, std::vector<std::string> codes) {
  if (!opt.queue.empty()) return run_queued(opt, std::move(codes));
  const auto start = Clock::now();
  const auto store = quorvel::install_runtime_services();
  logger.info("批量分析开始: %d 只标的, 日期 %s, 并发 %d%s", codes.size(), opt.date, opt.concurrency,
              opt.force ? ", 强制重新分析" : "");
  BatchRun batch({std::move(codes), opt.date, opt.concurrency, opt.force, client_type()});
  batch.check_model = check_model_settings;
  const Results results{batch, opt, start};
  Console console(opt.verbose);
  batch.on_outcome = [&](const Outcome& o, std::size_t position) {
    console.outcome(o, position, batch.outcomes().size());
    console.progress(count_outcomes(batch.outcomes()), seconds_since(start));
  };

  asio::io_context loop;
  asio::signal_set signals(loop, SIGINT, SIGTERM);
  watch_interrupts(signals, batch, console, results);
  asio::steady_timer ticker(loop);
  bool finished = false;
  // The batch ends the signal watch and the progress line whichever way it ends.
  auto run_batch = [&]() -> asio::awaitable<void> {
    std::exception_ptr failure;
    try {
      auto work = batch.run();
      co_await std::move(work);
    } catch (...) {
      failure = std::current_exception();
    }
    finished = true;
    signals.cancel();
    ticker.cancel();
    if (failure) std::rethrow_exception(failure);
  };
  asio::co_spawn(loop,
                 show_progress(
                     ticker, finished, console, [&] { return count_outcomes(batch.outcomes()); }, start),
                 [](std::exception_ptr) {});
  try {
    quorvel::run_sync(loop, run_batch());
  } catch (...) {
    // What was done is stored; the table says so before the one-line reason of the failure.
    console.clear();
    results.print();
    quorvel::flush_store();
    throw;
  }
  console.clear();

  results.print();
  quorvel::flush_store();
  write_pages(*store, batch.outcomes(), client_type());
  return exit_status(batch);
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("pelion-batch", [&]() -> int {
    quorvel::load_quorvel_env();
    Options opt;
    CLI::App app{
        "批量股票分析：对股票池中的每只标的做 AI 技术分析，同一市场同一日共用一份大盘简报，结尾输出结论与决策表",
        "pelion-batch"};
    app.add_option("--pool", opt.pool,
                   "股票池文件：每行一个代码（# 开头为注释），如 sh.600000、hk.00700、us.AAPL、510050")
        ->required();
    app.add_option("-t,--analysis_time", opt.date, "股票K线的日期，格式：YYYY-MM-DD (默认: 今天)");
    app.add_option("-c,--concurrency", opt.concurrency,
                   "同时进行的分析数 (默认: 4；LLM 同时请求数另受 LLM_MAX_IN_FLIGHT 限制)")
        ->check(quorvel::integer_range(1, 64));
    app.add_flag("--force", opt.force, "强制重新分析，即使报告已存在");
    app.add_option("--max-exposure", opt.max_exposure,
                   "同一市场同一日建议仓位合计的上限（%，默认: 100）；超过时在结尾标出并列出相关标的")
        ->check(quorvel::number_at_least(0));
    app.add_option("--format", opt.format,
                   "结尾结果的输出格式：table（默认）/ csv / json；csv 与 json 时标准输出只有数据，"
                   "仓位、计数与费用行在标准错误")
        ->check(CLI::IsMember(RESULT_FORMATS));
    app.add_flag("-v,--verbose", opt.verbose, "在终端输出每只标的的完整分析日志");
    auto* queue_option =
        app.add_option("--queue", opt.queue,
                       "交给任务队列 redis://主机[:端口][/库] 上的 pelion-worker 工作进程分析（可分布在多台机器），"
                       "本进程只提交并跟踪进度，结尾输出同样的结果表；已存储的标的不再提交。"
                       "工作进程应共用同一个报告库 (REPORT_DB_URL)；-c 此时不起作用，并发由各工作进程的 -c 决定。"
                       "只写 --queue 不带地址时用 QUORVEL_QUEUE_URL (含密码时宜用该变量，命令行在进程列表中人人可见)")
            ->expected(0, 1);
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;
    if (*queue_option && opt.queue.empty()) {
      opt.queue = quorvel::env_value("QUORVEL_QUEUE_URL").value_or("");
      if (opt.queue.empty()) {
        std::fprintf(stderr, "pelion-batch: --queue 未带地址时须设置 QUORVEL_QUEUE_URL (redis://主机[:端口][/库])\n");
        return 2;
      }
    }
    if (auto status = quorvel::refuse_pool_date("pelion-batch", opt.date, "输入日期")) return *status;
    auto codes = quorvel::watchlist_codes("pelion-batch", opt.pool);
    if (!codes) return 2;
    quorvel::setup_logging((std::filesystem::current_path() / "logs").string(), "INFO");
    if (!opt.verbose) quorvel::logger.set_console_level(quorvel::LogLevel::warning);
    return run(opt, std::move(*codes));
  });
}
