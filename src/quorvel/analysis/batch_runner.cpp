#include "quorvel/analysis/batch_runner.h"

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
#include "quorvel/agent/schemas/plan_checks.h"
#include "quorvel/analysis/analysis_steps.h"
#include "quorvel/strategy/ai/basic_ai_selector.h"
#include "quorvel/strategy/ai/verdict.h"
#include "quorvel/utils/blocking.h"
#include "quorvel/utils/companion.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/market_type.h"

namespace quorvel::batch {

namespace {

namespace ai = strategy::ai;
using namespace asio::experimental::awaitable_operators;

// What an error is about, without the details: its text up to the first full-width colon or comma
// ("缺少 LLM API 密钥：LLM_CLIENT_TYPE=... 需要..." -> "缺少 LLM API 密钥").
std::string error_headline(const std::string& error) {
  std::size_t end = error.size();
  for (const char* mark : {"：", "，"}) end = std::min(end, error.find(mark));
  return error.substr(0, end);
}

// The decision and its rule checks as the analysis stored them. A buy stored by a version that did
// not check plans needs review like one that failed: nobody checked it.
void take_checks(Outcome& o, const report::StoredAnalysis& stored) {
  o.decision = stored.decision;
  o.review_required = stored.review_required;
  o.failed_checks = agent::schemas::failed_check_lines(stored.plan_checks);
  const bool buy = o.decision && o.decision->value("action", std::string("观望等待")) != "观望等待";
  if (buy && stored.plan_checks.is_null()) {
    o.review_required = true;
    o.failed_checks.insert(o.failed_checks.begin(), "未核验: 该分析由旧版本存储，交易计划未经规则核验 (--force 重新分析)");
  }
}

// The decision and verdict an earlier run stored for the outcome's instrument-day.
void apply_stored(Outcome& o, const report::StoredAnalysis& stored) {
  o.status = Status::stored;
  take_checks(o, stored);
  o.verdict = ai::verdict_name(ai::summary_verdict(stored.summary).trade_enum);
  if (!o.decision) {
    o.status = Status::failed;
    o.reason = "已存储的分析中没有可用的决策 (--force 重新分析)";
  }
}

}  // namespace

asio::awaitable<std::vector<Outcome>> plan_instruments(const BatchOptions& options) {
  auto plan_op = run_blocking([options] {
    std::vector<Outcome> planned;
    for (const auto& code : options.codes) planned.push_back(plan_instrument(code, options));
    return planned;
  });
  co_return co_await std::move(plan_op);
}

Outcome plan_instrument(const std::string& code, const BatchOptions& options) {
  Outcome o;
  o.code = code;
  try {
    o.requested = o.date = market_end_date(code, options.date);
    o.name = name_or_empty(code);
    o.market_type = get_market_type(code, o.name);
    if (!o.market_type) {
      o.status = Status::failed;
      o.reason = "无法识别的证券代码 (应如 sh.600000、hk.00700、us.AAPL、510050)";
      return o;
    }
    refuse_bare_stock_number(code, o.name);
    const AnalysisDay day = analysis_day(code, o.requested);
    o.date = day.date;
    o.sessions_behind = day.sessions_behind;
    if (!options.force) {
      if (const auto stored = report::default_storage().stored_analysis({code, o.date, options.llm_client_type}))
        apply_stored(o, *stored);
    }
  } catch (const std::exception& e) {
    o.status = Status::failed;
    o.reason = e.what();
  }
  return o;
}

BatchRun::BatchRun(BatchOptions options, BriefBoard* briefs) : options_(std::move(options)), shared_briefs_(briefs) {
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
  claims_.release_all_now();
}

asio::awaitable<void> BatchRun::run() {
  auto plan_op = plan_instruments(options_);
  outcomes_ = co_await std::move(plan_op);
  for (const Outcome& o : outcomes_)
    if (is_done(o.status)) finish(o);
  if (stop_ || !model_usable()) co_return;
  auto executor = co_await asio::this_coro::executor;
  prefetch_briefs(executor);
  auto workers = with_companion(run_workers(), claims_.keep_renewed());
  co_await std::move(workers);
}

bool BatchRun::model_usable() {
  const auto waiting = [](const Outcome& o) { return o.status == Status::pending; };
  if (!check_model || std::none_of(outcomes_.begin(), outcomes_.end(), waiting)) return true;
  std::string error;
  try {
    check_model();
    return true;
  } catch (const std::exception& e) {
    error = e.what();
  }
  logger.error(error);
  const std::string reason = "未分析：" + error_headline(error) + "（见上方错误）";
  for (Outcome& o : outcomes_) {
    if (!waiting(o)) continue;
    o.status = Status::failed;
    o.reason = reason;
    finish(o);
  }
  return false;
}

void BatchRun::prefetch_briefs(const asio::any_io_executor& executor) {
  // Only for instruments the store knows by name: an unknown code usually has no bars either, and
  // its market's brief is then fetched when (if ever) an analysis really needs it. Funds and
  // A-shares of one day share one board entry.
  std::set<std::pair<std::string, std::string>> wanted;
  for (const Outcome& o : outcomes_)
    if (o.status == Status::pending && !o.name.empty()) wanted.insert({*o.market_type, o.date});
  for (const auto& [market, date] : wanted) board().prefetch(executor, market, date);
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

report::AnalysisKey BatchRun::key(const Outcome& o) const { return {o.code, o.date, options_.llm_client_type}; }

asio::awaitable<Outcome*> BatchRun::claim_next() {
  while (!stop_) {
    Outcome* o = nullptr;
    bool waited = false;
    std::optional<std::string> error;
    try {
      if (next_ < outcomes_.size()) {
        o = &outcomes_[next_++];
        if (o->status != Status::pending) continue;
        auto attempt = claims_.try_take(key(*o));
        if (!co_await std::move(attempt)) {
          logger.info("[分析占用] %s %s 正由另一个运行分析，稍后再看", o->code, o->date);
          deferred_.push_back(o);
          continue;
        }
      } else if (!deferred_.empty()) {
        o = deferred_.front();
        deferred_.pop_front();
        waited = true;
        auto wait = claims_.take(key(*o), &stop_);
        const AnalysisClaims::Taken taken = co_await std::move(wait);
        if (!taken.held) co_return nullptr;
      } else {
        co_return nullptr;
      }
    } catch (const std::exception& e) {
      error = e.what();  // the report store cannot take the claim (disk full, damaged database)
    }
    if (error) {
      o->status = Status::failed;
      o->reason = *error;
      finish(*o);
      continue;
    }
    auto stored = finished_elsewhere(*o, waited);
    if (!co_await std::move(stored)) co_return o;
    auto release = claims_.release(key(*o));
    co_await std::move(release);
    finish(*o);
  }
  co_return nullptr;
}

asio::awaitable<bool> BatchRun::finished_elsewhere(Outcome& o, bool waited) {
  // Unless forced, a run that finished the instrument-day between the first pass and this claim
  // has stored it. Forced, only the run this one waited for counts: its analysis is as new as ours.
  if (options_.force && !waited) co_return false;
  try {
    auto lookup = run_blocking([k = key(o)] { return report::default_storage().stored_analysis(k); });
    const std::optional<report::StoredAnalysis> stored = co_await std::move(lookup);
    if (!stored) co_return false;
    apply_stored(o, *stored);
  } catch (const std::exception& e) {
    o.status = Status::failed;
    o.reason = e.what();
  }
  co_return true;
}

asio::awaitable<void> BatchRun::worker() {
  auto first_claim = claim_next();
  Outcome* first_outcome = co_await std::move(first_claim);
  auto first = prepare(first_outcome);
  Prepared ready = co_await std::move(first);
  while (ready.outcome) {
    // The next instrument is claimed, read and screened while the model answers about this one.
    auto analysis = analyse(std::move(ready));
    auto preparation = prepare_next();
    auto both = std::move(analysis) && std::move(preparation);
    Prepared following = co_await std::move(both);
    ready = std::move(following);
    if (stop_ && ready.outcome) {  // prepared, never started: stays pending
      auto unused = claims_.release(key(*ready.outcome));
      co_await std::move(unused);
      break;
    }
  }
}

asio::awaitable<BatchRun::Prepared> BatchRun::prepare_next() {
  auto next = claim_next();
  Outcome* outcome = co_await std::move(next);
  auto preparation = prepare(outcome);
  co_return co_await std::move(preparation);
}

asio::awaitable<BatchRun::Prepared> BatchRun::prepare(Outcome* outcome) {
  Prepared p;
  p.outcome = outcome;
  p.start = std::chrono::steady_clock::now();
  if (!outcome) co_return p;
  try {
    const AnalysisDay day{outcome->requested, outcome->date, outcome->sessions_behind};
    auto read = run_blocking([code = outcome->code, day] { return prepare_stock(code, day); });
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
  // Freed as soon as the analysis ends, not when the next instrument is ready: that one may be
  // waiting for another run, which may be waiting for this claim.
  auto release = claims_.release(key(o));
  co_await std::move(release);
  finish(o);
}

asio::awaitable<void> BatchRun::analyse_steps(Prepared& prepared) {
  Outcome& o = *prepared.outcome;
  PreparedStock& stock = prepared.stock;
  auto brief_op = board().get(*o.market_type, o.date);
  const std::string brief = co_await std::move(brief_op);

  // The selector's own work (context, decision, storage) runs on the worker pool too.
  ai::BasicAISelector selector;
  auto analysis = asio::co_spawn(worker_pool(),
                                 selector.check_async({.stock_status = std::move(stock.stock_status),
                                                       .df = std::move(stock.df),
                                                       .pattern_info = std::move(stock.pattern_info),
                                                       .selector_source = std::move(stock.selector_source),
                                                       .analysis_time = o.date,
                                                       .market_ai_brief = brief,
                                                       .data_note = stock.data_note}),
                                 asio::use_awaitable);
  const ai::AIAnalysisResult result = co_await std::move(analysis);
  if (result.trader_response.empty()) throw RuntimeError(ai::failure_reason(result.summary_response));
  o.verdict = ai::verdict_name(result.trade_enum);
  // The decision as the analysis stored it: the one extracted and checked once.
  auto lookup = run_blocking([k = key(o)] { return report::default_storage().stored_analysis(k); });
  const std::optional<report::StoredAnalysis> stored = co_await std::move(lookup);
  if (stored) take_checks(o, *stored);
  if (!o.decision) throw RuntimeError("回复中没有可用的决策 (已按观望存储)");
  o.status = Status::analysed;
}

}  // namespace quorvel::batch
