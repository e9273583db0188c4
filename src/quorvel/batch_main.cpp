// pelion-batch: the AI analysis of every instrument of a watchlist for one day, several at a time,
// sharing one market brief per market and day. Resumes: what is stored is skipped unless forced.
// Standard error shows a line per instrument (and, on a terminal, the progress); standard output
// ends with the table of verdicts and decisions and the cost of the run.
//
// Exit status: 0 when every instrument is analysed or was stored, 1 when one failed (or the run
// could not start), 2 for a usage or date error, 130 after Ctrl-C (SIGINT/SIGTERM). A first Ctrl-C
// starts nothing new and lets the analyses under way finish; a second one ends at once. Either way
// what finished is stored and published and the table shows what was done.
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include <asio/experimental/as_tuple.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>

#include "contracts/errors.h"
#include "quorvel/agent/core/usage_ledger.h"
#include "quorvel/analysis_steps.h"
#include "quorvel/batch_report.h"
#include "quorvel/batch_runner.h"
#include "quorvel/command_dates.h"
#include "quorvel/pool_members.h"
#include "quorvel/runtime_services.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/run_sync.h"
#include "tarnel/code_list.h"

namespace {

using namespace quorvel::batch;
using quorvel::logger;
using Clock = std::chrono::steady_clock;

constexpr int EXIT_INTERRUPTED = 130;

struct Options {
  std::string pool, date = quorvel::today_text();
  int concurrency = DEFAULT_CONCURRENCY;
  bool force = false, verbose = false;
  double max_exposure = DEFAULT_MAX_EXPOSURE_PCT;  // percent of the account per market and day
};

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Standard error of the run: a line per instrument and, on a terminal, a progress line kept at the bottom.
class Console {
 public:
  explicit Console(bool verbose) : verbose_(verbose), tty_(isatty(STDERR_FILENO) != 0) {}

  void outcome(const Outcome& o, std::size_t position, std::size_t total) {
    const std::string line = outcome_line(o, position, total);
    logger.info(line);
    if (verbose_) return;  // the console log already shows it
    clear();
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  void progress(const Counts& counts, double elapsed) {
    if (!tty_ || counts.total == 0) return;
    std::fprintf(stderr, "\r\033[K%s", progress_line(counts, elapsed).c_str());
    std::fflush(stderr);
    drawn_ = true;
  }
  void clear() {
    if (drawn_) std::fprintf(stderr, "\r\033[K");
    drawn_ = false;
  }

 private:
  bool verbose_, tty_, drawn_ = false;
};

// Redraws the progress line twice a second until the run is finished.
asio::awaitable<void> show_progress(asio::steady_timer& ticker, const bool& finished, Console& console,
                                    const BatchRun& batch, Clock::time_point start) {
  while (!finished) {
    console.progress(count_outcomes(batch.outcomes()), seconds_since(start));
    ticker.expires_after(std::chrono::milliseconds(500));
    co_await ticker.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
  }
}

// The closing table, counts and cost on standard output.
struct Results {
  const BatchRun& batch;
  Clock::time_point start;
  double max_exposure_pct = DEFAULT_MAX_EXPOSURE_PCT;
  quorvel::agent::core::UsageTotals usage_before = quorvel::agent::core::usage_ledger().totals();

  void print() const {
    const auto& outcomes = batch.outcomes();
    std::cout << "\n";
    print_table(std::cout, outcomes);
    for (const Exposure& e : exposures(outcomes)) {
      const std::string line = exposure_line(e, max_exposure_pct);
      std::cout << line << "\n";
      if (e.total_pct > max_exposure_pct + 1e-9 || !e.unreadable.empty()) logger.warning("[仓位合计] " + line);
    }
    std::cout << count_line(count_outcomes(outcomes)) << "\n"
              << cost_line(quorvel::agent::core::usage_ledger().totals().since(usage_before), seconds_since(start))
              << "\n";
    std::cout.flush();
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
  std::string type = quorvel::env_value("LLM_CLIENT_TYPE").value_or("deepseek");
  for (char& c : type) c = char(std::tolower(static_cast<unsigned char>(c)));
  return type;
}

int run(const Options& opt, std::vector<std::string> codes) {
  const auto start = Clock::now();
  quorvel::install_runtime_services();
  logger.info("批量分析开始: %d 只标的, 日期 %s, 并发 %d%s", codes.size(), opt.date, opt.concurrency,
              opt.force ? ", 强制重新分析" : "");
  BatchRun batch({std::move(codes), opt.date, opt.concurrency, opt.force, client_type()});
  const Results results{batch, start, opt.max_exposure};
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
  asio::co_spawn(loop, show_progress(ticker, finished, console, batch, start), [](std::exception_ptr) {});
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
  return exit_status(batch);
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("pelion-batch", [&]() -> int {
    quorvel::load_quorvel_env();
    Options opt;
    CLI::App app{"批量股票分析：对股票池中的每只标的做 AI 技术分析，同一市场同一日共用一份大盘简报，结尾输出结论与决策表",
                 "pelion-batch"};
    app.add_option("--pool", opt.pool, "股票池文件：每行一个代码（# 开头为注释），如 sh.600000、hk.00700、us.AAPL、510050")
        ->required();
    app.add_option("-t,--analysis_time", opt.date, "股票K线的日期，格式：YYYY-MM-DD (默认: 今天)");
    app.add_option("-c,--concurrency", opt.concurrency, "同时进行的分析数 (默认: 4；LLM 同时请求数另受 LLM_MAX_IN_FLIGHT 限制)")
        ->check(quorvel::integer_range(1, 64));
    app.add_flag("--force", opt.force, "强制重新分析，即使报告已存在");
    app.add_option("--max-exposure", opt.max_exposure,
                   "同一市场同一日建议仓位合计的上限（%，默认: 100）；超过时在结尾标出并列出相关标的")
        ->check(quorvel::number_at_least(0));
    app.add_flag("-v,--verbose", opt.verbose, "在终端输出每只标的的完整分析日志");
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;
    if (auto status = quorvel::refuse_pool_date("pelion-batch", opt.date, "输入日期")) return *status;
    auto codes = quorvel::watchlist_codes("pelion-batch", opt.pool);
    if (!codes) return 2;
    quorvel::setup_logging((std::filesystem::current_path() / "logs").string(), "INFO");
    if (!opt.verbose) quorvel::quiet_console_log();
    return run(opt, std::move(*codes));
  });
}
