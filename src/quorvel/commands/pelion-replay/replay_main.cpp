// pelion-replay: the analysis of pelion-batch for every instrument of a watchlist on every Nth
// trading session of a date range, as each of those days saw it: only bars and briefs of that
// session or before (the bar reads end at the session; a brief is made from its own day). It works
// in a store of its own (default: <report directory>/replay, with its own brief cache and audit
// folder) and never publishes, so it never makes a live run skip an analysis, never feeds its
// briefs to live runs and never reaches the live queue. It reads the bars the local store holds
// (each series once, sliced per session), never the online providers. Resumable: a session's stored analyses are
// skipped when the replay runs again. The offline analyst answers unless LLM_CLIENT_TYPE names a
// model; then the number of LLM calls is printed first and more than 50 need --yes.
//
// Exit status: 0 done (failed instruments are counted in the closing line), 1 failure, 2 usage.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/agent/core/provider_config.h"
#include "quorvel/analysis/analysis_steps.h"
#include "quorvel/analysis/batch_runner.h"
#include "quorvel/runtime/command_dates.h"
#include "quorvel/runtime/pool_members.h"
#include "quorvel/runtime/runtime_services.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/market_type.h"
#include "quorvel/utils/run_sync.h"
#include "contracts/dates.h"
#include "tarnel/online/online_market_data.h"

namespace {

using quorvel::logger;

// LLM calls a replay with a model may make without --yes.
constexpr std::size_t CALLS_WITHOUT_CONSENT = 50;

struct Options {
  std::string pool, from, to, dir;
  int every = 1;
  int concurrency = quorvel::batch::DEFAULT_CONCURRENCY;
  bool yes = false;
};

// The trading sessions of the pool's markets in [from, to], every Nth of them.
std::vector<std::string> sessions(const std::set<std::string>& markets, const std::string& from, const std::string& to,
                                  int every) {
  std::vector<std::string> all;
  for (tarnel::Date d = tarnel::parse_date(from); d <= tarnel::parse_date(to); d += date::days{1}) {
    const std::string day = tarnel::date_text(d), before = tarnel::date_text(d - date::days{1});
    for (const auto& m : markets)
      if (tarnel::count_trading_days(m, before, day) == 1) {
        all.push_back(day);
        break;
      }
  }
  std::vector<std::string> out;
  for (std::size_t i = 0; i < all.size(); i += std::size_t(every)) out.push_back(all[i]);
  return out;
}

// The replay's own store, brief cache and client; nothing reaches the live queue.
void use_replay_store(const std::filesystem::path& dir) {
  setenv("REPORT_DIR", dir.c_str(), 1);
  setenv("QUORVEL_SOLVARA_DIR", (dir / "solvaras").c_str(), 1);
  setenv("QUORVEL_AUDIT_SHARED_SYSTEM", "1", 1);
  unsetenv("QUORVEL_MQ_URL");
  setenv("TARNEL_ONLINE", "0", 1);  // history as stored: fill it first with tarnel-update
  if (!quorvel::env_value("LLM_CLIENT_TYPE")) setenv("LLM_CLIENT_TYPE", "offline", 1);
}

int run(const Options& opt) {
  const auto pool = quorvel::watchlist_codes("pelion-replay", opt.pool);
  if (!pool) return 2;
  const std::vector<std::string>& codes = *pool;
  const std::filesystem::path dir =
      std::filesystem::absolute(opt.dir.empty() ? quorvel::report_directory() / "replay" : std::filesystem::path(opt.dir));
  use_replay_store(dir);
  quorvel::install_runtime_services();
  tarnel::online::install_market_data(tarnel::parse_date(opt.to));  // each series read once, sliced per session
  std::set<std::string> markets;
  for (const auto& code : codes) {
    const std::string m = quorvel::get_market_type(code, "").value_or("A");
    markets.insert(m == "ETF" ? "A" : m);
  }
  const std::vector<std::string> days = sessions(markets, opt.from, opt.to, opt.every);
  const std::string client = *quorvel::env_value("LLM_CLIENT_TYPE");
  const std::size_t calls = days.size() * (codes.size() + markets.size());
  fmt::print(stderr, "回放 {} 个交易日 × {} 只标的，存储目录 {}，LLM 客户端 {}\n", days.size(), codes.size(),
             dir.string(), client);
  if (client != "offline") {
    fmt::print(stderr, "预计 LLM 调用最多 {} 次 (含每个市场每日一份大盘简报；已存储的分析不再调用)\n", calls);
    if (calls > CALLS_WITHOUT_CONSENT && !opt.yes) {
      fmt::print(stderr, "pelion-replay: 调用超过 {} 次，确认费用后加 --yes 再运行\n", CALLS_WITHOUT_CONSENT);
      return 2;
    }
  }
  try {
    // A missing API key is said once here, not once per instrument and day.
    quorvel::agent::core::resolve_provider_config(quorvel::agent::core::process_env());
  } catch (const quorvel::ValueError& e) {
    fmt::print(stderr, "pelion-replay: {}\n", e.what());
    return 1;
  }
  std::size_t analysed = 0, stored = 0, failed = 0;
  for (std::size_t i = 0; i < days.size(); ++i) {
    quorvel::batch::BatchRun batch({codes, days[i], opt.concurrency, false, client});
    quorvel::run_sync(batch.run());
    const auto c = quorvel::batch::count_outcomes(batch.outcomes());
    analysed += c.analysed;
    stored += c.stored;
    failed += c.failed;
    fmt::print(stderr, "[{}/{}] {}：新分析 {}，已存储 {}，失败 {}\n", i + 1, days.size(), days[i], c.analysed, c.stored,
               c.failed);
  }
  quorvel::flush_store();
  fmt::print("回放完成：{} 个交易日，新分析 {}，已存储 {}，失败 {}；评分: quorvel-ledger update --dir {}\n", days.size(),
             analysed, stored, failed, dir.string());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("pelion-replay", [&]() -> int {
    quorvel::load_quorvel_env();
    Options opt;
    CLI::App app{"历史回放：按区间内每第 N 个交易日，对股票池逐只做与 pelion-batch 相同的分析，只使用当日及之前的K线与简报；"
                 "结果存入单独的回放目录，不发布到消息队列，也不影响实盘运行。",
                 "pelion-replay"};
    app.add_option("--pool", opt.pool, "股票池文件：每行一个代码（# 开头为注释）")->required();
    app.add_option("--from", opt.from, "起始日期 YYYY-MM-DD (含)")->required();
    app.add_option("--to", opt.to, "结束日期 YYYY-MM-DD (含)")->required();
    app.add_option("--every", opt.every, "每第 N 个交易日回放一次 (默认: 1)")->check(quorvel::integer_range(1, 250));
    app.add_option("-c,--concurrency", opt.concurrency, "同时进行的分析数 (默认: 4)")
        ->check(quorvel::integer_range(1, 64));
    app.add_option("--dir", opt.dir, "回放存储目录 (默认: 报告目录下的 replay)");
    app.add_flag("--yes", opt.yes, "使用真实模型且调用超过 50 次时确认费用");
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;
    if (auto status = quorvel::refuse_pool_date("pelion-replay", opt.to, "结束日期")) return *status;
    if (auto status = quorvel::refuse_start_date("pelion-replay", opt.from, opt.to, "结束日期")) return *status;
    quorvel::setup_logging((std::filesystem::current_path() / "logs").string(), "INFO");
    quorvel::logger.set_console_level(quorvel::LogLevel::warning);
    return run(opt);
  });
}
