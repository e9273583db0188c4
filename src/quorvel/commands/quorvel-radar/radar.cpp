// quorvel-radar: scans a pool (the ETF universe by default, a watchlist file, or every stored
// instrument of a market) with the opportunity radar on a date and prints its three sections:
// 量化异动, 潜在机会, 风险提示.
#include <chrono>
#include <map>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/runtime/command_dates.h"
#include "quorvel/runtime/pool_members.h"
#include "quorvel/commands/quorvel-radar/radar_output.h"
#include "quorvel/strategy/radar/opportunity_radar_selector.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/market_type.h"
#include "quorvel/utils/parallel_for.h"
#include "quorvel/utils/outside_text.h"
#include "tarnel/code_list.h"
#include "tarnel/local_market_data.h"
#include "zerith/rule_pattern_service.h"

namespace {

using Json = nlohmann::ordered_json;
namespace radar = quorvel::strategy::radar;

struct Options {
  std::string pool, market, universe, date = quorvel::today_text(), start, frequency, weekly_mode, format = "table";
  std::optional<double> min_amount;
  double min_vol_ratio = 1.5, min_pct_change = 1.5;
  int stale_days = quorvel::STALE_SESSIONS;
  bool verbose = false;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The members named by files: the watchlist's, or the ETF universe's (the default pool); none for a
// market, whose members come from the store.
std::vector<quorvel::PoolMember> file_members(const Options& opt) {
  std::vector<quorvel::PoolMember> members;
  if (!opt.pool.empty()) {
    for (auto& code : tarnel::read_code_list(opt.pool)) members.push_back({std::move(code), ""});
  } else if (opt.market.empty()) {
    const auto file = opt.universe.empty() ? quorvel::get_project_root() / "data" / "etf" / "etf.yaml"
                                           : std::filesystem::path(opt.universe);
    members = quorvel::etf_universe_members(file.string());
  }
  return members;
}

// "\r载入K线 120/5000 (2.4%) 失败 0 用时 1.2s" on a terminal, at most five times a second.
class LoadProgress {
 public:
  explicit LoadProgress(std::size_t total) : total_(total), start_(std::chrono::steady_clock::now()) {}
  void done(bool failed) {
    if (!isatty(STDERR_FILENO)) return;
    std::lock_guard lock(mutex_);
    ++done_;
    failed_ += failed;
    const double now = seconds_since(start_);
    if (done_ != total_ && now - last_ < 0.2) return;
    last_ = now;
    std::fprintf(stderr, "\r载入K线 %zu/%zu (%.1f%%) 失败 %zu 用时 %.1fs%s", done_, total_,
                 100.0 * double(done_) / double(total_), failed_, now, done_ == total_ ? "\n" : "");
  }

 private:
  std::mutex mutex_;
  std::size_t total_, done_ = 0, failed_ = 0;
  std::chrono::steady_clock::time_point start_;
  double last_ = -1.0;
};

struct LoadedPool {
  zerith::RadarPool pool;
  Json errors = Json::array();  // [{"code", "error"}] of the instruments whose bars could not be read
};

// The daily bars of every member up to the date, read on every core; a failure is recorded.
LoadedPool load_pool(std::vector<quorvel::PoolMember>& members, const std::string& start, const std::string& date) {
  std::vector<tarnel::BarTable> bars(members.size());
  std::vector<std::string> errors(members.size());
  LoadProgress progress(members.size());
  quorvel::parallel_for(members.size(), 0, [&](std::size_t i) {
    try {
      if (members[i].name.empty()) members[i].name = tarnel::get_name_from_code(members[i].code);
      bars[i] = tarnel::get_any_ohlc(members[i].code, start, date);
    } catch (const std::exception& e) {
      errors[i] = e.what()[0] ? e.what() : "未知错误";
    }
    progress.done(!errors[i].empty());
  });
  LoadedPool out;
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (!errors[i].empty())
      out.errors.push_back({{"code", members[i].code}, {"error", errors[i]}});
    else
      out.pool.emplace(members[i].code, std::pair{members[i].name, std::move(bars[i])});
  }
  return out;
}

// The radar's result with the instruments that never reached it counted as failures.
void add_load_errors(Json& result, const Json& load_errors) {
  if (load_errors.empty()) return;
  Json& summary = result["summary"];
  summary["total"] = summary.value("total", std::size_t{0}) + load_errors.size();
  summary["failed"] = summary.value("failed", std::size_t{0}) + load_errors.size();
  Json all = load_errors;
  for (const auto& e : result.value("errors", Json::array())) all.push_back(e);
  result["errors"] = std::move(all);
}

int run(const Options& opt, std::vector<quorvel::PoolMember> members) {
  using quorvel::logger;
  if (!opt.market.empty()) members = quorvel::market_members(opt.market);
  if (members.empty()) {
    std::cerr << "quorvel-radar: 没有可扫描的标的"
              << (opt.market.empty() ? ""
                                     : " (行情库中没有 " + opt.market + " 市场的股票或基金；先用 tarnel-import 导入)")
              << "\n";
    return 1;
  }
  // The calendar of the market scanned (a pool or universe: the market of its first instrument).
  const std::string market =
      !opt.market.empty() ? opt.market : quorvel::get_market_type(members.front().code).value_or("A");
  const std::string date = tarnel::normalize_end_date_for(market, opt.date);
  if (date != opt.date) logger.warning("日期已从 %s 调整为 %s (市场未收盘或非交易日)", opt.date, date);
  if (auto status = quorvel::refuse_start_date("quorvel-radar", opt.start, date, "最近一个已收盘的交易日"))
    return *status;

  const auto start = std::chrono::steady_clock::now();
  LoadedPool loaded = load_pool(members, opt.start.empty() ? tarnel::get_default_start_date() : opt.start, date);
  // The day each instrument's data is of; one whose bars end well before the day (suspended, not
  // updated) would be judged on old bars: counted, never flagged.
  std::map<std::string, std::string> as_of;
  std::size_t stale = 0;
  for (auto it = loaded.pool.begin(); it != loaded.pool.end();) {
    const auto& bars = it->second.second;
    const std::string last = bars.empty() ? std::string() : bars.last_date();
    if (quorvel::sessions_behind(it->first, last, date) > opt.stale_days) {
      ++stale;
      it = loaded.pool.erase(it);
      continue;
    }
    as_of[it->first] = last;
    ++it;
  }
  if (isatty(STDERR_FILENO)) std::cerr << "雷达评估 " << loaded.pool.size() << " 只...\n";
  radar::PoolOptions pool_options;
  if (!opt.frequency.empty()) pool_options.frequency = opt.frequency;
  pool_options.min_amount_ea = opt.min_amount;
  pool_options.min_vol_ratio = opt.min_vol_ratio;
  pool_options.min_pct_change = opt.min_pct_change;
  if (!opt.weekly_mode.empty()) pool_options.weekly_mode = opt.weekly_mode;
  pool_options.target_date = date;
  Json result = radar::OpportunityRadarSelector::analyze_pool(loaded.pool, pool_options);
  add_load_errors(result, loaded.errors);
  quorvel::add_as_of(result, as_of);
  result["summary"]["stale"] = stale;
  result["summary"]["total"] = result["summary"].value("total", std::size_t{0}) + stale;

  for (const auto& e : result["errors"])
    std::cerr << "quorvel-radar: " << quorvel::outside_text(e.value("code", "")) << " 评估失败: "
              << quorvel::outside_text(e.value("error", "")) << "\n";
  quorvel::print_radar(std::cout, result, opt.format, date);
  std::cerr << quorvel::radar_summary_line(result, date, seconds_since(start)) << "\n";
  return result["summary"].value("evaluated", std::size_t{0}) > 0 ? 0 : 1;
}

void add_options(CLI::App& app, Options& opt) {
  auto* pool = app.add_option("--pool", opt.pool, "股票池文件：每行一个代码（# 开头为注释）");
  auto* market = app.add_option("--market", opt.market, "扫描行情库中该市场的全部股票/基金：A / HK / US / ETF")
                     ->check(CLI::IsMember({"A", "HK", "US", "ETF"}));
  auto* universe = app.add_option("--universe", opt.universe, "ETF 样本文件（默认：data/etf/etf.yaml）");
  pool->excludes(market)->excludes(universe);
  market->excludes(universe);
  app.add_option("-t,--analysis_time", opt.date, "扫描日期，格式 YYYY-MM-DD（默认：今天）");
  app.add_option("--frequency", opt.frequency, "K线频段：daily / weekly（默认：周五至周日用周线，其余用日线）")
      ->check(CLI::IsMember({"daily", "weekly"}));
  app.add_option("--weekly-mode", opt.weekly_mode,
                 "周线模式：live（含当前未完成的一周，默认）/ closed（只用已完成的周）")
      ->check(CLI::IsMember({"live", "closed"}));
  app.add_option("--min-vol-ratio", opt.min_vol_ratio, "放量门槛：量比（默认 1.5）")->check(quorvel::number_at_least(0));
  app.add_option("--min-pct-change", opt.min_pct_change, "涨跌幅门槛，百分比（默认 1.5）")
      ->check(quorvel::number_at_least(0));
  app.add_option("--min-amount", opt.min_amount, "成交额下限（计价货币；默认不设）")
      ->check(quorvel::number_at_least(0));
  app.add_option("--start", opt.start, "K线起始日期（默认：行情服务的默认历史窗口）");
  app.add_option("--format", opt.format, "输出格式：table（默认）/ csv / json")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  app.add_option("--stale-days", opt.stale_days, "最后一根K线比扫描日期早超过这么多个交易日的标的不评估 (默认 5)")
      ->check(quorvel::integer_range(0, 10000));
  app.add_flag("-v,--verbose", opt.verbose, "输出信息级日志");
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("quorvel-radar", [&]() -> int {
    quorvel::load_quorvel_env();
    Options opt;
    CLI::App app{"机会雷达：扫描 ETF 样本、股票池或整个市场，输出量化异动、潜在机会与风险提示三个分区",
                 "quorvel-radar"};
    add_options(app, opt);
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;
    if (auto status = quorvel::refuse_pool_date("quorvel-radar", opt.date)) return *status;
    if (auto status = quorvel::refuse_start_date("quorvel-radar", opt.start, opt.date, "扫描日期")) return *status;
    std::vector<quorvel::PoolMember> members;
    try {
      members = file_members(opt);
    } catch (const quorvel::Error& e) {
      std::cerr << "quorvel-radar: " << e.what() << "\n";
      return opt.pool.empty() && opt.universe.empty() ? 1 : 2;  // the bundled universe is no usage error
    }
    quorvel::setup_logging((std::filesystem::current_path() / "logs").string(), opt.verbose ? "INFO" : "WARNING");
    tarnel::install_local_market_data();
    zerith::install_pattern_service();
    return run(opt, std::move(members));
  });
}
