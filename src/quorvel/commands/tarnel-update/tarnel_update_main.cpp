// tarnel-update: brings instruments of the local store up to date from the online providers.
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/instrument_code.h"
#include "quorvel/utils/market_type.h"
#include "quorvel/utils/outside_text.h"
#include "tarnel/bar_store.h"
#include "tarnel/code_list.h"
#include "contracts/dates.h"
#include "tarnel/local_market_data.h"
#include "tarnel/online/pool_update.h"

namespace {

using tarnel::online::FillOutcome;

std::vector<std::string> market_codes(tarnel::LocalMarketData& local, const std::string& market) {
  tarnel::BarStore store(local.store_file());
  std::vector<std::string> codes;
  for (const auto& e : store.instruments())
    if (e.market == market) codes.push_back(e.code);
  return codes;
}

void print_progress(std::size_t done, std::size_t total, const tarnel::online::UpdateResult& r) {
  const FillOutcome& o = r.outcome;
  std::string what;
  switch (o.status) {
    case FillOutcome::Status::filled: what = fmt::format("新增 {} 根 ({})", o.bars_added, o.provider); break;
    case FillOutcome::Status::up_to_date: what = "已是最新"; break;
    case FillOutcome::Status::failed: what = "失败: " + o.detail; break;
  }
  std::cerr << fmt::format("[{}/{}] {} {}\n", done, total, r.code, what);
}

// The latest last closed session among the markets of the codes; nothing when no code has a known market.
std::optional<tarnel::Date> last_closed_session(tarnel::LocalMarketData& local, const std::vector<std::string>& codes,
                                                tarnel::Date today) {
  std::set<std::string> markets;
  for (const auto& code : codes)
    if (const auto market = quorvel::get_market_type(code)) markets.insert(*market);
  std::optional<tarnel::Date> latest;
  for (const auto& market : markets) {
    const tarnel::Date closed = tarnel::parse_date(local.normalize_end_date(tarnel::date_text(today), market));
    if (!latest || closed > *latest) latest = closed;
  }
  return latest;
}

// `codes` are the command line's or the pool file's; with `market` they come from the store.
int run(std::vector<std::string> codes, const std::string& market, const std::string& start) {
  const auto config = tarnel::online::online_config_from_env();
  if (!config.enabled) {
    std::cerr << "tarnel-update: 在线行情已关闭 (TARNEL_ONLINE=0)，没有可更新的来源\n";
    return 1;
  }
  auto local = std::make_shared<tarnel::LocalMarketData>(tarnel::default_store_path(),
                                                         quorvel::get_project_root() / "data");
  const tarnel::Date first = tarnel::parse_date(start.empty() ? local->get_default_start_date() : start);
  const tarnel::Date today{quorvel::clock().today_local()};
  if (!market.empty()) codes = market_codes(*local, market);
  if (codes.empty()) {
    std::cerr << "tarnel-update: 没有要更新的证券" << (market.empty() ? "" : "（行情库中没有 " + market + " 市场的证券）")
              << "\n";
    return 1;
  }
  if (const auto closed = last_closed_session(*local, codes, today); !start.empty() && closed && first > *closed) {
    std::cerr << "tarnel-update: --start " << start << " 晚于最近一个已收盘的交易日 " << tarnel::date_text(*closed)
              << "，没有可补齐的交易日：请给出不晚于该日的起始日期\n";
    return 2;
  }
  tarnel::online::BarFiller filler(*local, config);
  const auto summary = tarnel::online::update_pool(filler, codes, first, today, print_progress);
  for (const auto& f : summary.failures) std::cout << fmt::format("失败 {}: {}\n", quorvel::outside_text(f.code), quorvel::outside_text(f.outcome.detail));
  std::cout << fmt::format("合计: {} 个证券，新增 {} 根K线；{} 个已更新，{} 个已是最新，{} 个失败\n", summary.instruments,
                           summary.bars_added, summary.filled, summary.up_to_date, summary.failures.size());
  return summary.failures.empty() ? 0 : 1;
}

// The checks of --start that need no store: a malformed date, or one after today (no session has
// closed yet). Returns the usage-error status when the command must stop.
std::optional<int> refuse_start(const std::string& start) {
  if (start.empty()) return std::nullopt;
  const tarnel::Date today{quorvel::clock().today_local()};
  if (const auto d = tarnel::try_parse_calendar_date(start); d && *d > today) {
    std::cerr << "tarnel-update: --start " << start << " 晚于今天 " << tarnel::date_text(today)
              << "，没有可补齐的交易日：请给出不晚于最近一个已收盘交易日的起始日期\n";
    return 2;
  }
  if (!tarnel::try_parse_date(start)) {
    std::cerr << "tarnel-update: --start 应为 YYYY-MM-DD 的有效日期: '" << start << "'\n";
    return 2;
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("tarnel-update", [&]() -> int {
    quorvel::load_quorvel_env();
    CLI::App app{"从在线行情源补齐本地行情库：每个证券缺少的交易日（到最近一个已收盘的交易日为止）。", "tarnel-update"};
    std::vector<std::string> codes;
    std::string pool, market, start;
    auto* code_opt = app.add_option("codes", codes, "证券代码，如 sh.600000 hk.00700 us.AAPL 510050");
    auto* pool_opt = app.add_option("--pool", pool, "股票池文件：每行一个代码（# 开头为注释）");
    auto* market_opt = app.add_option("--market", market, "行情库中某市场的全部证券")
                           ->check(CLI::IsMember({"A", "HK", "US", "ETF"}));
    app.add_option("--start", start, "补齐的起始日期 YYYY-MM-DD（默认: 默认历史窗口的起点）");
    pool_opt->excludes(market_opt)->excludes(code_opt);
    market_opt->excludes(code_opt);
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;
    if (codes.empty() && pool.empty() && market.empty()) {
      std::cerr << "tarnel-update: 需要证券代码、--pool FILE 或 --market A|HK|US|ETF\n\n" << app.help();
      return 2;
    }
    if (auto status = refuse_start(start)) return *status;
    try {
      if (!pool.empty()) codes = tarnel::read_code_list(pool);
    } catch (const quorvel::ValueError& e) {
      std::cerr << "tarnel-update: " << e.what() << "\n";
      return 2;
    }
    // One instrument however often and however it is spelt: fetched and counted once.
    std::set<std::string> seen;
    std::vector<std::string> unique;
    for (const auto& code : codes)
      if (std::string canonical = quorvel::canonical_or_raw(code); seen.insert(canonical).second)
        unique.push_back(std::move(canonical));
    return run(std::move(unique), market, start);
  });
}
