// quorvel-ledger: keeps score of the stored plans.
//
//   quorvel-ledger update [--dir D] [--market M] [--from D] [--to D] [--client X]
//   quorvel-ledger report [--dir D] [--market M] [--from D] [--to D] [--client X] [--format table|csv|json]
//
// Exit status: 0 success, 1 failure (store unusable, bars unreadable), 2 usage error.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "contracts/errors.h"
#include "quorvel/runtime/command_dates.h"
#include "quorvel/ledger/ledger_entries.h"
#include "quorvel/ledger/ledger_output.h"
#include "quorvel/ledger/ledger_update.h"
#include "quorvel/pages/page_files.h"
#include "quorvel/report/default_store.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "tarnel/online/online_market_data.h"

namespace {

// The pages that show a result now (those written already; the others get theirs from
// `quorvel-reports html`), then the index and ledger pages.
void write_pages(quorvel::report::SqlReportStore& store, const std::vector<std::int64_t>& scored) {
  for (const std::int64_t id : scored) {
    try {
      const auto report = store.get_report(id);
      if (!report) continue;
      const auto page = quorvel::pages::analysis_page_path(report->stock_code, report->analysis_date,
                                                           report->llm_client_type);
      // A page of an earlier analysis of the day (replaced by --force) shows the latest, not this one.
      if (std::filesystem::exists(store.directory() / page) &&
          store.latest_analysis_id({report->stock_code, report->analysis_date, report->llm_client_type}) == id)
        quorvel::pages::write_analysis_page(store, id);
    } catch (const std::exception& e) {
      quorvel::logger.warning("[报告页面] 分析 %d 的页面未能更新 (可运行 quorvel-reports html 重写): %s", id, e.what());
    }
  }
  try {
    const auto index = quorvel::pages::write_index_pages(store);
    fmt::print("计划账本页面: {}\n", index.ledger.string());
  } catch (const std::exception& e) {
    quorvel::logger.warning(std::string("[报告页面] 页面未能全部更新 (可运行 quorvel-reports html 重写): ") + e.what());
  }
}

int update(quorvel::report::SqlReportStore& store, const quorvel::report::PlanFilter& filter) {
  const bool tty = isatty(fileno(stderr)) != 0;
  const auto counts = quorvel::ledger::update_ledger(store, filter, quorvel::today_text(),
                                                     [&](std::size_t done, std::size_t total) {
                                                       if (tty) fmt::print(stderr, "\r\033[K评分 {}/{}", done, total);
                                                     });
  if (tty) fmt::print(stderr, "\r\033[K");
  fmt::print("待评分计划 {} 个：已评分 {}，无法评分 {}，行情未到期待下次 {}\n", counts.plans, counts.scored,
             counts.not_scorable, counts.pending);
  const auto flushed = store.flush();
  if (!flushed.ok()) quorvel::logger.warning("评分消息暂未投递，留待下次投递: " + flushed.error);
  write_pages(store, counts.results);
  return 0;
}

int run(int argc, char** argv) {
  quorvel::load_quorvel_env();
  CLI::App app{"计划账本：用分析日之后的K线给已存储的交易计划评分，并汇总命中率、R 倍数与置信度校准。\n"
               "报告目录: --dir，否则 REPORT_DIR，否则 TARNEL_CENTER/report，否则项目根目录下的 report。",
               "quorvel-ledger"};
  app.require_subcommand(1);
  std::string dir;
  quorvel::report::PlanFilter filter;
  std::string format = "table";
  auto add_filter = [&](CLI::App* sub) {
    sub->add_option("--dir", dir, "报告目录 (默认按 REPORT_DIR / TARNEL_CENTER 规则；回放的目录见 pelion-replay 的结尾)");
    sub->add_option("--market", filter.market, "市场: A, HK, US, ETF")->check(CLI::IsMember({"A", "HK", "US", "ETF"}));
    sub->add_option("--from", filter.from, "分析日期起 YYYY-MM-DD (含)");
    sub->add_option("--to", filter.to, "分析日期止 YYYY-MM-DD (含)");
    sub->add_option("--client", filter.llm_client_type, "LLM 客户端类型，如 deepseek、offline");
  };
  auto* upd = app.add_subcommand("update", "给尚未评分的计划评分 (只增不改；行情未走完的计划留待下次)");
  add_filter(upd);
  auto* rep = app.add_subcommand("report", "按市场、操作、置信度、策略、大盘研判与规则核验汇总已评分的计划");
  add_filter(rep);
  rep->add_option("--format", format, "输出格式: table, csv, json")->check(CLI::IsMember({"table", "csv", "json"}));
  if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;
  for (const auto* day : {&filter.from, &filter.to})
    if (*day) {
      if (auto status = quorvel::refuse_pool_date("quorvel-ledger", **day, "日期")) return *status;
    }

  quorvel::report::StoreOptions options;
  options.directory = dir.empty() ? quorvel::report_directory() : std::filesystem::path(dir);
  const auto db_file = options.directory / quorvel::report::DATABASE_FILE_NAME;
  if (!std::filesystem::exists(db_file)) {
    fmt::print(stderr, "quorvel-ledger: 报告目录中还没有报告数据库: {} (请检查 --dir 或 REPORT_DIR / TARNEL_CENTER)\n",
               db_file.string());
    return 1;
  }
  auto store = quorvel::report::make_default_report_store(options);
  if (*upd) {
    tarnel::online::install_market_data();  // the local store, filled online unless TARNEL_ONLINE=0
    return update(*store, filter);
  }
  const auto entries = quorvel::ledger::ledger_entries(*store, filter);
  quorvel::ledger::print_ledger_report(std::cout, quorvel::ledger::build_ledger_report(entries), format);
  std::size_t unscorable = 0;
  for (const auto& e : entries) unscorable += e.score.status == "not_scorable";
  if (unscorable > 0)
    fmt::print(stderr, "另有 {} 个计划无法评分（停牌、价格缺失等，原因见 score 消息的 reason），未计入统计\n", unscorable);
  if (entries.empty()) fmt::print(stderr, "还没有已评分的计划：先运行 quorvel-ledger update\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("quorvel-ledger", [&] { return run(argc, argv); });
}
