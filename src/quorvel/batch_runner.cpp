#include "quorvel/batch_runner.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <set>
#include <tuple>
#include <utility>

#include <asio/experimental/as_tuple.hpp>
#include <asio/co_spawn.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>

#include "contracts/errors.h"
#include "contracts/report_store.h"
#include "quorvel/analysis_steps.h"
#include "quorvel/report/decision_payload.h"
#include "quorvel/report/sqlite_report_store.h"
#include "quorvel/strategy/ai/basic_ai_selector.h"
#include "quorvel/strategy/ai/verdict.h"
#include "quorvel/utils/blocking.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/market_type.h"

namespace quorvel::batch {

namespace {

namespace ai = strategy::ai;
using namespace asio::experimental::awaitable_operators;
using indicators::TradeEnum;

// Prefix of the summary the AI selector returns for an analysis that failed.
constexpr std::string_view FAILED_SUMMARY_PREFIX = "分析出错: ";

std::string verdict_name(TradeEnum t) {
  switch (t) {
    case TradeEnum::BUY: return "BUY";
    case TradeEnum::SELL: return "SELL";
    case TradeEnum::WATCH: return "WATCH";
  }
  return "";
}

std::string failure_reason(const std::string& summary) {
  if (summary.rfind(FAILED_SUMMARY_PREFIX, 0) == 0) return summary.substr(FAILED_SUMMARY_PREFIX.size());
  return summary.empty() ? "分析失败" : summary;
}

// The decision and verdict an earlier run stored for the outcome's code, day and client. The SQLite
// store can list its reports; another store leaves the row without them.
void read_stored(Outcome& o, const std::string& llm_client_type) {
  auto* store = dynamic_cast<report::SqliteReportStore*>(&report::default_storage());
  if (!store) return;
  report::ReportFilter filter;
  filter.code = o.code;
  filter.date = o.date;
  filter.llm_client_type = llm_client_type;
  filter.limit = 1;
  filter.kind = report::ReportKind::analysis;
  if (const auto analysis = store->list_reports(filter); !analysis.empty())
    o.decision = report::decision_from_analysis(analysis.front().content);
  filter.kind = report::ReportKind::summary;
  if (const auto summary = store->list_reports(filter); !summary.empty())
    o.verdict = verdict_name(ai::summary_verdict(summary.front().content).trade_enum);
  if (!o.decision) {
    o.status = Status::failed;
    o.reason = "已存储的分析中没有可用的决策 (--force 重新分析)";
  }
}

}  // namespace

Outcome plan_instrument(const std::string& code, const BatchOptions& options) {
  Outcome o;
  o.code = code;
  try {
    o.date = market_end_date(code, options.date);
    o.name = name_or_empty(code);
    o.market_type = get_market_type(code, o.name);
    if (!o.market_type) {
      o.status = Status::failed;
      o.reason = "无法识别的证券代码 (应如 sh.600000、hk.00700、us.AAPL、510050)";
    } else if (!options.force && report::default_storage().exists(code, o.date, options.llm_client_type)) {
      o.status = Status::stored;
      read_stored(o, options.llm_client_type);
    }
  } catch (const std::exception& e) {
    o.status = Status::failed;
    o.reason = e.what();
  }
  return o;
}

BatchRun::BatchRun(BatchOptions options) : options_(std::move(options)) {
  options_.concurrency = std::max(options_.concurrency, 1);
  std::set<std::string> seen;
  std::erase_if(options_.codes, [&](const std::string& code) { return !seen.insert(code).second; });
}

void BatchRun::finish(const Outcome& outcome) {
  ++finished_;
  if (on_outcome) on_outcome(outcome, finished_);
}

void BatchRun::abandon() {
  for (Outcome& o : outcomes_)
    if (o.status == Status::running) o.status = Status::interrupted;
}

asio::awaitable<void> BatchRun::run() {
  auto plan_op = run_blocking([options = options_] {
    std::vector<Outcome> planned;
    for (const auto& code : options.codes) planned.push_back(plan_instrument(code, options));
    return planned;
  });
  outcomes_ = co_await std::move(plan_op);
  for (const Outcome& o : outcomes_)
    if (is_done(o.status)) finish(o);
  if (stop_) co_return;
  auto executor = co_await asio::this_coro::executor;
  prefetch_briefs(executor);
  auto workers = run_workers();
  co_await std::move(workers);
}

void BatchRun::prefetch_briefs(const asio::any_io_executor& executor) {
  // Only for instruments the store knows by name: an unknown code usually has no bars either, and
  // its market's brief is then fetched when (if ever) an analysis really needs it. Funds and
  // A-shares of one day share one board entry.
  std::set<std::pair<std::string, std::string>> wanted;
  for (const Outcome& o : outcomes_)
    if (o.status == Status::pending && !o.name.empty()) wanted.insert({*o.market_type, o.date});
  for (const auto& [market, date] : wanted) briefs_.prefetch(executor, market, date);
}

asio::awaitable<void> BatchRun::run_workers() {
  auto executor = co_await asio::this_coro::executor;
  const auto pending = std::count_if(outcomes_.begin(), outcomes_.end(),
                                     [](const Outcome& o) { return o.status == Status::pending; });
  const int count = int(std::min<std::ptrdiff_t>(options_.concurrency, pending));
  if (count == 0) co_return;
  asio::steady_timer all_done(executor, std::chrono::steady_clock::time_point::max());
  int running = count;
  std::exception_ptr failure;
  for (int i = 0; i < count; ++i) {
    asio::co_spawn(executor, worker(), [&](std::exception_ptr e) {
      if (e && !failure) failure = e;
      if (--running == 0) all_done.cancel();
    });
  }
  // Ends when the last worker cancels the timer.
  co_await all_done.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
  if (failure) std::rethrow_exception(failure);
}

// An instrument ready for its analysis: what prepare_stock found, or why there is nothing to analyse.
struct BatchRun::Prepared {
  Outcome* outcome = nullptr;
  PreparedStock stock;
  std::string error;
  std::chrono::steady_clock::time_point start{};
};

Outcome* BatchRun::claim() {
  while (!stop_ && next_ < outcomes_.size()) {
    Outcome& o = outcomes_[next_++];
    if (o.status == Status::pending) return &o;
  }
  return nullptr;
}

asio::awaitable<void> BatchRun::worker() {
  auto first = prepare(claim());
  Prepared ready = co_await std::move(first);
  while (ready.outcome) {
    Outcome& current = *ready.outcome;
    // The next instrument is read and screened while the model answers about this one.
    auto analysis = analyse(std::move(ready));
    auto preparation = prepare(claim());
    auto both = std::move(analysis) && std::move(preparation);
    Prepared following = co_await std::move(both);
    finish(current);
    ready = std::move(following);
    if (stop_ && ready.outcome) break;  // prepared, never started: stays pending
  }
}

asio::awaitable<BatchRun::Prepared> BatchRun::prepare(Outcome* outcome) {
  Prepared p;
  p.outcome = outcome;
  p.start = std::chrono::steady_clock::now();
  if (!outcome) co_return p;
  try {
    auto read = run_blocking([code = outcome->code, date = outcome->date] { return prepare_stock(code, date); });
    p.stock = co_await std::move(read);
    if (p.stock.df.empty()) p.error = "没有 K 线数据 (截至 " + outcome->date + ")";
  } catch (const std::exception& e) {
    p.error = e.what();
  }
  co_return p;
}

asio::awaitable<void> BatchRun::analyse(Prepared prepared) {
  Outcome& o = *prepared.outcome;
  o.status = Status::running;
  logger.info("开始 AI 股票分析: stock=" + o.code + ", analysis_time=" + o.date);
  std::optional<std::string> error;
  if (!prepared.error.empty()) error = prepared.error;
  try {
    if (!error) {
      auto steps = analyse_steps(prepared);
      co_await std::move(steps);
    }
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "未知错误";
  }
  o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - prepared.start).count();
  if (error) {
    o.status = Status::failed;
    o.reason = *error;
  }
}

asio::awaitable<void> BatchRun::analyse_steps(Prepared& prepared) {
  Outcome& o = *prepared.outcome;
  PreparedStock& stock = prepared.stock;
  auto brief_op = briefs_.get(*o.market_type, o.date);
  const std::string brief = co_await std::move(brief_op);

  // The selector's own work (context, decision, storage) runs on the worker pool too.
  ai::BasicAISelector selector;
  auto analysis = asio::co_spawn(worker_pool(),
                                 selector.check_async({.stock_status = std::move(stock.stock_status),
                                                       .df = std::move(stock.df),
                                                       .pattern_info = std::move(stock.pattern_info),
                                                       .selector_source = std::move(stock.selector_source),
                                                       .analysis_time = o.date,
                                                       .market_ai_brief = brief}),
                                 asio::use_awaitable);
  const ai::AIAnalysisResult result = co_await std::move(analysis);
  if (result.trader_response.empty()) throw RuntimeError(failure_reason(result.summary_response));
  o.verdict = verdict_name(result.trade_enum);
  o.decision = report::decision_from_analysis(result.trader_response);
  if (!o.decision) throw RuntimeError("回复中没有可用的决策 (已按观望存储)");
  o.status = Status::analysed;
}

}  // namespace quorvel::batch
