#include "quorvel/commands/pelion-batch/queued_job.h"

#include <algorithm>
#include <csignal>
#include <exception>
#include <optional>
#include <set>
#include <utility>

#include <asio/co_spawn.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/use_awaitable.hpp>
#include <hiredis/hiredis.h>

#include "contracts/errors.h"
#include "quorvel/analysis/work_queue.h"
#include "quorvel/utils/blocking.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/run_sync.h"

namespace quorvel::batch {

namespace {

using namespace std::chrono_literals;

// How long one read of the results waits: also how soon a Ctrl-C is noticed.
constexpr auto READ_BLOCK = 500ms;
constexpr std::size_t READ_COUNT = 200;
// After this long without a single result, say that the job waits for workers.
constexpr auto NO_WORKER_HINT = 15s;
// Instruments planned and queued at a time.
constexpr std::size_t SUBMIT_SHARE = 16;
// How often the entries of items without a result are looked for in the work stream.
constexpr auto REQUEUE_CHECK = 10s;

asio::awaitable<void> pause(std::chrono::milliseconds wait) {
  asio::steady_timer timer(co_await asio::this_coro::executor, wait);
  co_await timer.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
}

}  // namespace

QueuedJob::QueuedJob(report::RedisEndpoint endpoint, BatchOptions options, Console& console, Clock::time_point start)
    : client_(std::move(endpoint)), options_(std::move(options)), console_(console), start_(start) {
  // Like a local run: a repeated code is analysed once, at its first place.
  std::set<std::string> seen;
  std::erase_if(options_.codes, [&](const std::string& code) { return !seen.insert(code).second; });
}

void QueuedJob::report(const Outcome& o) {
  console_.outcome(o, ++finished_, outcomes_.size());
  console_.progress(count_outcomes(outcomes_), seconds_since(start_));
}

void QueuedJob::run() {
  asio::io_context loop;
  asio::signal_set signals(loop, SIGINT, SIGTERM);
  signals.async_wait([&](std::error_code ec, int) {
    if (ec) return;
    console_.clear();
    logger.warning("收到中断信号：撤回尚未被工作进程领取的标的，输出已完成的结果（进行中的分析由工作进程完成并存储）");
    interrupted_ = true;
  });
  asio::steady_timer ticker(loop);
  bool finished = false;
  auto whole = [&]() -> asio::awaitable<void> {
    std::exception_ptr failure;
    try {
      auto job = work();
      co_await std::move(job);
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
                     ticker, finished, console_, [this] { return count_outcomes(outcomes_); }, start_),
                 [](std::exception_ptr) {});
  run_sync(loop, whole());
}

void QueuedJob::queue_item(std::size_t index) {
  const WorkItem item{job_, index, outcomes_[index].code, options_.date, options_.force, options_.llm_client_type};
  entries_[index] = report::add_stream_entry(client_, stream_, item_id(job_, index), ITEM_TYPE, item_payload(item));
}

std::size_t QueuedJob::requeue_lost() {
  std::size_t lost = 0;
  for (const auto& [index, entry] : entries_) {
    if (is_done(outcomes_[index].status)) continue;
    const auto r = client_.run({"XRANGE", stream_, entry, entry});
    if (r->type == REDIS_REPLY_ARRAY && r->elements > 0) continue;
    queue_item(index);
    ++lost;
  }
  return lost;
}

asio::awaitable<void> QueuedJob::work() {
  job_ = new_job_id();
  stream_ = work_stream(options_.llm_client_type);
  outcomes_.resize(options_.codes.size());
  // Planned and queued a share at a time: the workers start on the first instruments while the
  // rest of a long watchlist is still being planned.
  for (std::size_t from = 0; from < options_.codes.size() && !interrupted_; from += SUBMIT_SHARE) {
    const std::size_t to = std::min(options_.codes.size(), from + SUBMIT_SHARE);
    BatchOptions share = options_;
    share.codes.assign(options_.codes.begin() + std::ptrdiff_t(from), options_.codes.begin() + std::ptrdiff_t(to));
    auto plan_op = plan_instruments(share);
    std::vector<Outcome> planned = co_await std::move(plan_op);
    std::vector<std::size_t> queued;
    for (std::size_t i = from; i < to; ++i) {
      outcomes_[i] = std::move(planned[i - from]);
      if (is_done(outcomes_[i].status)) report(outcomes_[i]);
      if (outcomes_[i].status == Status::pending) queued.push_back(i);
    }
    waiting_ += queued.size();
    auto submission = submit(std::move(queued));
    co_await std::move(submission);
  }
  if (waiting_ > 0 && !interrupted_) {
    console_.clear();
    std::fprintf(stderr, "已提交任务 %s：%zu 只标的交给 %s 上的工作进程 (pelion-worker --queue %s)\n", job_.c_str(),
                 waiting_, client_.describe().c_str(), client_.describe().c_str());
    logger.info("[任务队列] 任务 %s 已提交 %d 项到 %s", job_, waiting_, client_.describe());
    auto following = follow();
    co_await std::move(following);
  }
  if (interrupted_)
    for (Outcome& o : outcomes_)
      if (!is_done(o.status)) o.status = Status::interrupted;
  if (!entries_.empty()) {
    auto cleaning = run_blocking([this] { clean_up(); });
    co_await std::move(cleaning);
  }
}

asio::awaitable<void> QueuedJob::submit(std::vector<std::size_t> items) {
  if (items.empty()) co_return;
  // Entries go in one by one, so that what was put in before a failure is known and taken out again.
  auto adding = run_blocking([this, items = std::move(items)] {
    try {
      for (const std::size_t index : items) queue_item(index);
    } catch (const std::exception& e) {
      clean_up();
      throw RuntimeError("无法把任务放入队列 " + client_.describe() + ": " + e.what());
    }
  });
  co_await std::move(adding);
}

asio::awaitable<void> QueuedJob::follow() {
  const std::string stream = results_stream(job_);
  std::string last = "0-0";
  bool hinted = false, broken = false;
  const auto submitted = Clock::now();
  auto next_check = Clock::now() + REQUEUE_CHECK;
  while (waiting_ > 0 && !interrupted_) {
    if (Clock::now() >= next_check && !broken) {
      next_check = Clock::now() + REQUEUE_CHECK;
      auto checking = run_blocking([this] { return requeue_lost(); });
      std::size_t lost = 0;
      try {
        lost = co_await std::move(checking);
      } catch (const std::exception& e) {
        logger.warning("[任务队列] 无法检查队列中的条目: %s", outside_text(e.what()));
      }
      if (lost > 0) logger.warning("[任务队列] %d 项已不在队列中 (消息服务重启过？)，已重新放入", lost);
    }
    std::vector<report::StreamEntry> got;
    std::optional<std::string> error;
    try {
      auto reading = run_blocking(
          [this, &stream, last] { return report::read_stream(client_, stream, last, READ_COUNT, READ_BLOCK); });
      got = co_await std::move(reading);
    } catch (const std::exception& e) {
      error = e.what();
    }
    if (error) {
      if (!broken) {
        console_.clear();
        logger.warning("[任务队列] 读取结果失败，每秒重试（Ctrl-C 结束）: %s", outside_text(*error));
      }
      broken = true;
      auto wait = pause(1000ms);
      co_await std::move(wait);
      continue;
    }
    if (broken) logger.warning("[任务队列] 已重新连接 %s", client_.describe());
    broken = false;
    for (const report::StreamEntry& entry : got) {
      last = entry.entry_id;
      take(entry);
    }
    if (!hinted && !received_ && Clock::now() - submitted > NO_WORKER_HINT) {
      hinted = true;
      console_.clear();
      std::fprintf(stderr, "%d 秒内没有收到任何结果：请确认有工作进程在运行 (pelion-worker --queue %s)\n",
                   int(NO_WORKER_HINT.count()), client_.describe().c_str());
    }
  }
}

bool QueuedJob::take(const report::StreamEntry& entry) {
  ItemResult result;
  try {
    result = parse_result(entry.payload);
  } catch (const std::exception& e) {
    logger.warning("[任务队列] 结果 %s 无法读取，跳过: %s", entry.entry_id, outside_text(e.what()));
    return false;
  }
  if (result.job != job_ || result.index >= outcomes_.size() || result.outcome.code != outcomes_[result.index].code) {
    logger.warning("[任务队列] 结果 %s 不属于任务 %s 的标的，跳过", entry.entry_id, job_);
    return false;
  }
  received_ = true;
  // Every report is paid for, a second one for an item too (its first worker was slow, not dead).
  add_usage(usage_, result.usage);
  Outcome& slot = outcomes_[result.index];
  if (slot.status == Status::stored && result.outcome.status == Status::analysed) {
    // A worker that took the item over found it stored by the one that analysed it for this job,
    // and its result came first: the analysis is this job's.
    slot = std::move(result.outcome);
    ++duplicates_;
    return true;
  }
  if (is_done(slot.status)) {
    ++duplicates_;
    logger.info("[任务队列] %s 又由 %s 交回一次结果 (%s)，以先到的为准", slot.code, result.worker, entry.entry_id);
    return true;
  }
  slot = std::move(result.outcome);
  if (!is_done(slot.status)) {  // a worker never posts these; counted as not finished
    slot.status = Status::interrupted;
  }
  --waiting_;
  report(slot);
  return true;
}

void QueuedJob::clean_up() noexcept {
  try {
    std::vector<std::string_view> args{"XDEL", stream_};
    for (const auto& [index, entry] : entries_) {
      args.push_back(entry);
      if (args.size() == 258) {
        client_.run(args);
        args.resize(2);
      }
    }
    if (args.size() > 2) client_.run(args);
    const std::string ttl = std::to_string(RESULTS_KEPT_AFTER_JOB.count());
    client_.run({"EXPIRE", results_stream(job_), ttl});
  } catch (const std::exception& e) {
    logger.warning("[任务队列] 任务 %s 的队列条目未能清理 (工作进程会跳过已完成的标的): %s", job_,
                   outside_text(e.what()));
  }
}

}  // namespace quorvel::batch
