#include "quorvel/pages/page_files.h"

#include <chrono>
#include <cstdlib>
#include <fstream>


#include "contracts/clock.h"
#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/ledger/ledger_entries.h"
#include "quorvel/pages/analysis_page.h"
#include "quorvel/pages/chart_data.h"
#include "quorvel/pages/index_pages.h"
#include "quorvel/report/markdown.h"
#include "quorvel/report/message.h"
#include "quorvel/strategy/ai/verdict.h"
#include "quorvel/utils/atomic_file.h"
#include "quorvel/utils/file_lock.h"
#include "quorvel/utils/logger.h"
#include "contracts/dates.h"

namespace quorvel::pages {

namespace {

// Calendar days of history read before the analysis day: the 120 drawn sessions and the 60 the
// slower average needs before them.
constexpr int HISTORY_DAYS = 300;

tarnel::BarTable history(const std::string& code, const std::string& date) {
  const auto day = tarnel::try_parse_date(date);
  if (!day) return {};
  try {
    return tarnel::get_any_ohlc(code, tarnel::date_text(*day - date::days(HISTORY_DAYS)), date);
  } catch (const std::exception& e) {
    logger.warning("[报告页面] %s %s 的K线读取失败，图表留空: %s", code, date, e.what());
    return {};
  }
}

// Decimals of the chart's price labels: funds and prices under 1 are quoted to the tenth of a cent.
int price_decimals(const std::optional<std::string>& market, const tarnel::BarTable& bars) {
  if (market.value_or("") == "ETF") return 3;
  return !bars.empty() && bars.last("close") < 1.0 ? 3 : 2;
}

// The analysis a page shows, as written into its head; nothing when the page is missing or unreadable.
std::optional<std::int64_t> page_report_id(const std::filesystem::path& page) {
  std::ifstream in(page, std::ios::binary);
  std::string head(2048, '\0');
  in.read(head.data(), std::streamsize(head.size()));
  head.resize(std::size_t(in.gcount()));
  const std::string mark = std::string("<meta name=\"") + REPORT_ID_META + "\" content=\"";
  const auto at = head.find(mark);
  if (at == std::string::npos) return std::nullopt;
  return std::atoll(head.c_str() + at + mark.size());
}

std::string generated_at() { return report::iso_utc(clock().now()); }

IndexRow index_row(report::AnalysisEntry e) {
  IndexRow row;
  row.verdict = strategy::ai::stored_verdict(e.summary);
  row.page = analysis_page_path(e.code, e.date, e.llm_client_type).generic_string();
  row.entry = std::move(e);
  return row;
}

// index.html and ledger.html written whole; the page lock is held.
IndexWritten write_index_pages_locked(report::SqlReportStore& store) {
  IndexWritten out{0, store.directory() / INDEX_FILE, store.directory() / LEDGER_FILE};
  std::string rows;
  for (auto& e : store.analysis_entries()) {
    rows += index_row_html(index_row(std::move(e)));
    ++out.analyses;
  }
  const std::string when = generated_at();
  write_file_atomically(out.index, index_page_html(rows, out.analyses, when));
  write_file_atomically(out.ledger, ledger_page_html(ledger::ledger_entries(store, {}), when));
  return out;
}

}  // namespace

std::filesystem::path analysis_page_path(const std::string& code, const std::string& date, const std::string& client) {
  report::StoredReport r;
  r.kind = report::ReportKind::analysis;
  r.stock_code = code;
  r.analysis_time = date;
  r.llm_client_type = client;
  return report::markdown_relative_path(r).replace_extension(".html");
}

std::filesystem::path write_analysis_page(report::SqlReportStore& store, std::int64_t id) {
  // Under the page lock and from the latest analysis of the instrument-day at the time of writing:
  // a slow rewrite of every page never puts back an analysis that --force has just replaced.
  FileLock lock(store.directory() / PAGES_LOCK_FILE);
  auto report = store.page_report(id);
  if (!report) throw RuntimeError("报告 " + std::to_string(id) + " 不是已存储的分析，无法生成页面");
  const auto latest = store.latest_analysis_id(
      {report->analysis.stock_code, report->analysis.analysis_date, report->analysis.llm_client_type});
  if (latest && *latest != id) report = store.page_report(*latest);
  AnalysisPage page;
  const report::StoredReport& a = report->analysis;
  const auto path = store.directory() / analysis_page_path(a.stock_code, a.analysis_date, a.llm_client_type);
  const tarnel::BarTable bars = history(a.stock_code, a.analysis_date);
  if (bars.empty() && std::filesystem::exists(path))
    throw RuntimeError("本地行情库没有 " + a.stock_code + " 到 " + a.analysis_date + " 的K线，保留已有页面");
  page.verdict = strategy::ai::stored_verdict(report->summary);
  page.chart = chart_data(bars, a.analysis_date, report->decision, report->levels, price_decimals(a.market_type, bars));
  if (a.file) page.markdown_file = std::filesystem::path(*a.file).filename().string();
  page.report = std::move(*report);
  write_file_atomically(path, analysis_page_html(page));
  return path;
}

IndexWritten write_index_pages(report::SqlReportStore& store) {
  FileLock lock(store.directory() / PAGES_LOCK_FILE);
  return write_index_pages_locked(store);
}

void add_to_index(report::SqlReportStore& store, const report::AnalysisKey& key) {
  FileLock lock(store.directory() / PAGES_LOCK_FILE);
  const auto index = store.directory() / INDEX_FILE;
  auto entries = store.analysis_entries({key.code, key.date, std::nullopt, key.llm_client_type});
  if (entries.empty()) return;
  std::optional<std::string> updated;
  if (std::filesystem::exists(index) && std::filesystem::exists(store.directory() / LEDGER_FILE))
    updated = index_with_row(read_whole_file(index), index_row(std::move(entries.front())), generated_at());
  if (updated) {
    write_file_atomically(index, *updated);
  } else {
    write_index_pages_locked(store);
  }
}

std::optional<std::filesystem::path> write_page_and_index(report::SqlReportStore& store,
                                                          const report::AnalysisKey& key) {
  std::optional<std::filesystem::path> page;
  try {
    if (const auto id = store.latest_analysis_id(key)) page = write_analysis_page(store, *id);
  } catch (const std::exception& e) {
    logger.warning("[报告页面] %s %s 的页面未能写出 (可运行 quorvel-reports html 重写): %s", key.code, key.date, e.what());
  }
  try {
    add_to_index(store, key);
  } catch (const std::exception& e) {
    logger.warning("[报告页面] %s %s 未能加入 index.html (可运行 quorvel-reports html 重写): %s", key.code, key.date,
                   e.what());
  }
  return page;
}

PagesWritten write_all_pages(report::SqlReportStore& store, bool rebuild,
                             const std::function<void(std::size_t, std::size_t)>& progress) {
  std::vector<std::int64_t> ids;
  for (const auto& e : store.analysis_entries())
    if (rebuild || page_report_id(store.directory() / analysis_page_path(e.code, e.date, e.llm_client_type)) != e.id)
      ids.push_back(e.id);
  PagesWritten out;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    try {
      write_analysis_page(store, ids[i]);
      ++out.written;
    } catch (const std::exception& e) {
      ++out.failed;
      logger.warning("[报告页面] 分析 %d 的页面未能写出: %s", ids[i], e.what());
    }
    if (progress) progress(i + 1, ids.size());
  }
  out.index = write_index_pages(store);
  return out;
}

}  // namespace quorvel::pages
