// quorvel-screen: screens a pool of instruments (a file of codes, or every stored instrument of a
// market) with one technical selector on a date, prints the eligible instruments and stores the
// day's ranking of the market for later analyses.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/runtime/command_dates.h"
#include "quorvel/runtime/pool_members.h"
#include "quorvel/runtime/runtime_services.h"
#include "quorvel/commands/quorvel-screen/screen_output.h"
#include "quorvel/strategy/technical/pool_screen.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/market_type.h"
#include "quorvel/utils/outside_text.h"
#include "tarnel/code_list.h"
#include "tarnel/local_market_data.h"
#include "zerith/rule_pattern_service.h"
#include "zerith/screen_ranks.h"

namespace {

namespace technical = quorvel::strategy::technical;

struct Options {
  std::string pool, market, selector = "combined", date = quorvel::today_text(), start, format = "table";
  int jobs = 0;
  int stale_days = quorvel::STALE_SESSIONS;
  bool store_rank = false, verbose = false;
};

// Codes of the pool: the watchlist file's (read by main), or every stored stock or fund of the market.
std::vector<std::string> pool_codes(const Options& opt, std::vector<std::string> listed) {
  if (!opt.pool.empty()) return listed;
  std::vector<std::string> codes;
  for (const auto& member : quorvel::market_members(opt.market)) codes.push_back(member.code);
  return codes;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// "\r筛选 120/5000 (2.4%) 通过 3 失败 0 用时 1.2s" on a terminal, at most five times a second.
std::function<void(const technical::ScreenProgress&)> progress_printer(std::chrono::steady_clock::time_point start) {
  if (!isatty(STDERR_FILENO)) return {};
  auto last = std::make_shared<double>(-1.0);
  return [start, last](const technical::ScreenProgress& p) {
    const double now = seconds_since(start);
    if (p.done != p.total && now - *last < 0.2) return;
    *last = now;
    std::fprintf(stderr, "\r筛选 %zu/%zu (%.1f%%) 通过 %zu 失败 %zu 用时 %.1fs%s", p.done, p.total,
                 100.0 * double(p.done) / double(p.total), p.eligible, p.failed, now, p.done == p.total ? "\n" : "");
  };
}

struct MarketScreen {
  std::vector<zerith::RankEntry> survivors;
  std::size_t with_bars = 0;  // instruments screened on bars of the range
};

// Stores the day's ranking of every market of the screen; true when all were stored. A market none
// of whose instruments could be screened on bars keeps the ranking it has: an empty ranking from a
// failed screen would erase a good one. A ranking file that cannot be written is reported with
// what to do; the screen's result has been printed already.
bool store_ranks(const std::vector<technical::ScreenOutcome>& outcomes, const std::string& date) {
  std::map<std::string, MarketScreen> by_market;
  for (const auto& o : outcomes) {
    const auto market = quorvel::get_market_type(o.code, o.name);
    if (!market) continue;
    auto& screen = by_market[*market];
    screen.with_bars += o.screened && !o.no_data;
    if (o.eligible) screen.survivors.push_back({o.code, o.score, o.strategy_type});
  }
  zerith::ScreenRankStore store(zerith::default_rank_store_path(), true);
  bool all_stored = true;
  for (auto& [market, screen] : by_market) {
    if (screen.with_bars == 0) {
      std::cerr << "quorvel-screen: " << market << " 市场没有一只标的在 " << date
                << " 筛选成功（全部失败或没有K线），未保存排名，已有的排名保持不变\n";
      all_stored = false;
      continue;
    }
    const std::size_t n = screen.survivors.size();
    try {
      store.save(market, date, std::move(screen.survivors));
    } catch (const std::exception& e) {
      std::cerr << "quorvel-screen: 筛选结果已输出，但 " << market << " 市场的排名未能保存: " << e.what() << "\n";
      return false;
    }
    quorvel::logger.info("已保存 %s 市场 %s 的筛选排名: 幸存 %d 只", market, date, n);
  }
  return all_stored;
}

int run(const Options& opt, std::vector<std::string> listed) {
  using quorvel::logger;
  const auto codes = pool_codes(opt, std::move(listed));
  if (codes.empty()) {
    std::cerr << "quorvel-screen: 没有可筛选的标的"
              << (opt.pool.empty() ? " (行情库中没有 " + opt.market + " 市场的股票或基金；先用 tarnel-import 导入)" : " (股票池文件为空)")
              << "\n";
    return 1;
  }
  // The calendar of the market screened (a pool: the market of its first instrument).
  const std::string market = !opt.market.empty() ? opt.market : quorvel::get_market_type(codes.front()).value_or("A");
  const std::string date = tarnel::normalize_end_date_for(market, opt.date);
  if (date != opt.date) logger.warning("日期已从 %s 调整为 %s (市场未收盘或非交易日)", opt.date, date);
  if (auto status = quorvel::refuse_start_date("quorvel-screen", opt.start, date, "最近一个已收盘的交易日"))
    return *status;

  const auto start = std::chrono::steady_clock::now();
  technical::ScreenRequest req;
  req.codes = codes;
  req.start_date = opt.start.empty() ? tarnel::get_default_start_date() : opt.start;
  req.end_date = date;
  req.threads = opt.jobs;
  req.make_selector = technical::selector_factory(opt.selector);
  req.options = {{"universe_rank", false}};
  if (opt.selector == "all") req.options = nlohmann::ordered_json::object();
  req.on_progress = progress_printer(start);
  auto outcomes = technical::screen_pool(req);
  // An instrument whose bars end well before the day (suspended, not updated) is screened on old
  // data: it is counted, never listed or ranked.
  for (auto& o : outcomes) {
    if (!o.screened || o.no_data || quorvel::sessions_behind(o.code, o.as_of, date) <= opt.stale_days) continue;
    o.stale = true;
    o.eligible = false;
  }

  const auto summary = quorvel::summarize_screen(outcomes);
  for (const auto& o : outcomes)
    if (!o.screened)
      std::cerr << "quorvel-screen: " << quorvel::outside_text(o.code) << " 筛选失败: " << quorvel::outside_text(o.error)
                << "\n";
  quorvel::print_screen(std::cout, outcomes, opt.format);
  std::cerr << quorvel::summary_line(summary, date, seconds_since(start)) << "\n";
  // The stored ranking is what later analyses, which read the default history window, report as
  // universe_rank: a screen over another window (too short a one leaves every instrument without
  // a setup) is printed but never replaces it.
  const bool wants_ranks = !opt.market.empty() || opt.store_rank;
  if (wants_ranks && !opt.start.empty())
    std::cerr << "quorvel-screen: 使用了 --start，筛选结果只输出，不保存为当日排名（排名按默认历史窗口计算）\n";
  const bool ranks_stored = !wants_ranks || !opt.start.empty() || store_ranks(outcomes, date);
  return summary.screened > 0 && ranks_stored ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("quorvel-screen", [&]() -> int {
    quorvel::load_quorvel_env();
    Options opt;
    CLI::App app{"技术面筛选：用规则选股器筛选一个股票池或整个市场，输出通过的标的并保存当日排名", "quorvel-screen"};
    auto* pool = app.add_option("--pool", opt.pool, "股票池文件：每行一个代码（# 开头为注释）");
    auto* market = app.add_option("--market", opt.market, "筛选行情库中该市场的全部股票/基金：A / HK / US / ETF")
                       ->check(CLI::IsMember({"A", "HK", "US", "ETF"}));
    pool->excludes(market);
    app.add_option("--selector", opt.selector, "筛选器：all / brp（底部反转）/ tf（趋势跟随）/ combined（组合，默认）")
        ->check(CLI::IsMember({"all", "brp", "tf", "combined"}));
    app.add_option("-t,--analysis_time", opt.date, "筛选日期，格式 YYYY-MM-DD（默认：今天）");
    app.add_option("--start", opt.start, "K线起始日期（默认：行情服务的默认历史窗口；给出时不保存当日排名）");
    app.add_option("--format", opt.format, "输出格式：table（默认）/ csv / json")
        ->check(CLI::IsMember({"table", "csv", "json"}));
    app.add_option("-j,--jobs", opt.jobs, "并行线程数（默认 0：CPU 核数）")->check(quorvel::integer_range(0, 256));
    app.add_option("--stale-days", opt.stale_days, "最后一根K线比筛选日期早超过这么多个交易日的标的不列出 (默认 5)")
        ->check(quorvel::integer_range(0, 10000));
    app.add_flag("--store-rank", opt.store_rank, "股票池筛选也保存当日排名（--market 总是保存）");
    app.add_flag("-v,--verbose", opt.verbose, "输出每只标的的筛选日志");
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;
    if (opt.pool.empty() && opt.market.empty()) {
      std::cerr << "quorvel-screen: 需要 --pool FILE 或 --market A|HK|US|ETF\n\n" << app.help();
      return 2;
    }
    if (auto status = quorvel::refuse_pool_date("quorvel-screen", opt.date)) return *status;
    if (auto status = quorvel::refuse_start_date("quorvel-screen", opt.start, opt.date, "筛选日期")) return *status;
    std::vector<std::string> listed;
    try {
      if (!opt.pool.empty()) listed = tarnel::read_code_list(opt.pool);
    } catch (const quorvel::ValueError& e) {
      std::cerr << "quorvel-screen: " << e.what() << "\n";
      return 2;
    }
    quorvel::setup_logging((std::filesystem::current_path() / "logs").string(), opt.verbose ? "INFO" : "WARNING");
    tarnel::install_local_market_data();
    zerith::install_pattern_service();
    return run(opt, std::move(listed));
  });
}
