// pelion-worker: analyses the instruments that `pelion-batch --queue` puts on the work queue
// (analysis/work_queue.h), -c at a time, on this host; any number of workers on any number of
// hosts share a queue. Each instrument goes the way it goes in pelion-batch (a BatchRun of its own:
// instrument-day claimed in the report store, what is stored skipped unless forced, one market brief
// per market and day shared by the items this worker has under way for a job); its result, with the
// LLM usage it cost, is posted to the job's results stream, and only then is the queue entry
// acknowledged. The entries of a worker that died are taken over once they have been idle for
// --lease seconds; a live worker renews its own entries every third of the lease, so a long
// analysis is not taken from it. The report store is the environment's (REPORT_DB_URL: one
// PostgreSQL database shared by all workers, so that two of them never pay for one instrument-day).
//
// Exit status: 0 after SIGTERM or Ctrl-C (the analyses under way are finished, posted and
// acknowledged first) or, with --once, when the queue has nothing left for it; 1 when the queue or
// the report store cannot be used at the start; 2 for a usage error; 130 after a second Ctrl-C (the
// analyses under way are dropped unacknowledged and taken over by another worker after the lease).
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <asio/co_spawn.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <asio/this_coro.hpp>
#include <asio/thread_pool.hpp>
#include <asio/use_awaitable.hpp>
#include <fmt/format.h>

#include "contracts/errors.h"
#include "quorvel/agent/core/provider_config.h"
#include "quorvel/agent/core/usage_ledger.h"
#include "quorvel/analysis/analysis_steps.h"
#include "quorvel/analysis/batch_briefs.h"
#include "quorvel/analysis/batch_report.h"
#include "quorvel/analysis/batch_runner.h"
#include "quorvel/analysis/work_queue.h"
#include "quorvel/report/redis_connection.h"
#include "quorvel/report/redis_group_reader.h"
#include "quorvel/runtime/runtime_services.h"
#include "quorvel/utils/blocking.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/run_sync.h"

namespace {

using namespace quorvel::batch;
using namespace std::chrono_literals;
using quorvel::logger;
using Clock = std::chrono::steady_clock;
namespace core = quorvel::agent::core;
namespace report = quorvel::report;

constexpr int EXIT_INTERRUPTED = 130;
constexpr int DEFAULT_WORKER_CONCURRENCY = 8;
constexpr int DEFAULT_LEASE_SECONDS = 300;
// How long a worker with nothing under way waits on the queue per read. With items under way it
// never blocks there (their results and acknowledgements go through the same connection): it looks
// again when one of them ends, or after BUSY_LOOK.
constexpr auto IDLE_BLOCK = 1000ms, ONCE_BLOCK = 100ms, BUSY_LOOK = 300ms;
// A job's briefs are kept this long after its last item here (a brief fetch still running for it
// must not outlive its board).
constexpr auto BOARD_KEPT = std::chrono::hours(1);

struct Options {
  std::string queue;
  int concurrency = DEFAULT_WORKER_CONCURRENCY;
  int lease = DEFAULT_LEASE_SECONDS;
  bool once = false, verbose = false;
  std::string name = default_worker_name();
};

// The provider settings the analyses will be built from; a ValueError names what is missing.
void check_model_settings() { core::resolve_provider_config(core::process_env()); }

// An error for the one line a worker that cannot start prints: its line breaks and tabs as spaces
// (a database driver's message runs over two lines).
std::string one_line(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return text;
}

asio::awaitable<void> pause(asio::steady_timer& timer, std::chrono::milliseconds wait) {
  timer.expires_after(wait);
  co_await timer.async_wait(asio::experimental::as_tuple(asio::use_awaitable));
}

class Worker {
 public:
  Worker(const Options& options, const report::RedisEndpoint& endpoint)
      : opt_(options),
        lease_(std::chrono::seconds(options.lease)),
        client_type_(core::selected_client_type(core::process_env())),
        reader_(endpoint, WORKER_GROUP, options.name, {work_stream(client_type_)}),
        results_(endpoint) {}

  ~Worker() { redis_thread_.join(); }

  // Blocking, before the loop starts: the consumer group is there (made at the stream's start, so
  // that a job put on the queue before any worker ran is not skipped). Throws when the queue
  // cannot be reached.
  void connect() { reader_.ensure_group("0"); }

  std::string describe() const { return reader_.describe(); }

  asio::awaitable<void> serve();

  // No item is taken after this; the ones under way finish, are posted and acknowledged.
  void request_stop() {
    stop_ = true;
    if (wake_) wake_->cancel();
  }
  bool stop_requested() const { return stop_; }

  // The analyses under way are marked interrupted and their claims freed (the process is about to
  // end without them; their entries stay pending and are taken over after the lease).
  void abandon() {
    for (BatchRun* run : runs_) run->abandon();
  }

  std::size_t handled() const { return handled_; }

 private:
  struct Board {
    std::shared_ptr<BriefBoard> board = std::make_shared<BriefBoard>();
    Clock::time_point used = Clock::now();
  };

  asio::awaitable<std::vector<report::StreamEntry>> fetch(std::size_t free, std::chrono::milliseconds block);
  asio::awaitable<void> renew_if_due();
  asio::awaitable<void> handle(report::StreamEntry entry);
  asio::awaitable<Outcome> analyse(const WorkItem& item);
  std::shared_ptr<BriefBoard> board_for(const std::string& job);
  void ended(const std::string& entry_id);

  Options opt_;
  std::chrono::milliseconds lease_;
  std::string client_type_;
  // The reader and the result client are used from this thread only: one call at a time, in order.
  asio::thread_pool redis_thread_{1};
  report::RedisGroupReader reader_;
  report::RedisClient results_;
  // Entries whose analysis is done here but whose result could not be posted: only the posting is
  // tried again, never the analysis (entry id -> the result's job and payload).
  std::map<std::string, std::pair<std::string, std::string>> unposted_;
  std::map<std::string, report::StreamEntry> taken_;  // entry id -> entry under way here
  std::set<BatchRun*> runs_;
  std::map<std::string, Board> boards_;  // job -> its market briefs
  core::UsageTotals reported_ = core::usage_ledger().totals();
  Clock::time_point next_reclaim_{}, next_renewal_ = Clock::now() + lease_ / 3;
  std::size_t handled_ = 0;
  bool stop_ = false;
  asio::steady_timer* wake_ = nullptr;  // the serve loop's wait for a free slot
};

std::shared_ptr<BriefBoard> Worker::board_for(const std::string& job) {
  const auto now = Clock::now();
  std::erase_if(boards_, [&](const auto& entry) { return entry.first != job && now - entry.second.used > BOARD_KEPT; });
  Board& b = boards_[job];
  b.used = now;
  return b.board;
}

void Worker::ended(const std::string& entry_id) {
  taken_.erase(entry_id);
  if (wake_) wake_->cancel();
}

asio::awaitable<std::vector<report::StreamEntry>> Worker::fetch(std::size_t free, std::chrono::milliseconds block) {
  std::set<std::string> in_hand;
  for (const auto& [id, entry] : taken_) in_hand.insert(id);
  const bool reclaim = Clock::now() >= next_reclaim_;
  if (reclaim) next_reclaim_ = Clock::now() + std::clamp<std::chrono::milliseconds>(lease_ / 2, 500ms, 30s);
  auto reading = quorvel::run_blocking(redis_thread_, [this, in_hand, free, block, reclaim] {
    std::vector<report::StreamEntry> out;
    if (reclaim)
      if (const std::size_t n = reader_.claim_idle(lease_, free); n > 0)
        logger.warning("[任务队列] 接手了其他工作进程超过租期 (%d 秒) 未确认的 %d 项", int(lease_.count() / 1000),
                       int(n));
    // Entries handed to this consumer earlier (taken over just now) that are not under way here.
    for (auto& e : reader_.pending(in_hand.size() + unposted_.size() + free))
      if (!in_hand.count(e.entry_id) && out.size() < free) out.push_back(std::move(e));
    if (out.size() < free)
      for (auto& e : reader_.next(free - out.size(), out.empty() ? block : 0ms)) out.push_back(std::move(e));
    return out;
  });
  co_return co_await std::move(reading);
}

asio::awaitable<void> Worker::renew_if_due() {
  if (Clock::now() < next_renewal_ || taken_.empty()) co_return;
  next_renewal_ = Clock::now() + lease_ / 3;
  std::vector<report::StreamEntry> entries;
  for (const auto& [id, entry] : taken_) entries.push_back(entry);
  auto renewal = quorvel::run_blocking(redis_thread_, [this, entries = std::move(entries)] { reader_.renew(entries); });
  co_await std::move(renewal);
}

asio::awaitable<void> Worker::serve() {
  asio::steady_timer wake(co_await asio::this_coro::executor);
  wake_ = &wake;
  auto executor = co_await asio::this_coro::executor;
  bool troubled = false, lost_group = false;
  while (!stop_) {
    try {
      auto renewal = renew_if_due();
      co_await std::move(renewal);
      const std::size_t busy = taken_.size();
      if (busy >= std::size_t(opt_.concurrency)) {
        auto waiting = pause(wake, 1000ms);  // cut short when an item ends
        co_await std::move(waiting);
        continue;
      }
      const auto block = busy > 0 ? 0ms : opt_.once ? ONCE_BLOCK : IDLE_BLOCK;
      auto taking = fetch(std::size_t(opt_.concurrency) - busy, block);
      const std::vector<report::StreamEntry> got = co_await std::move(taking);
      for (const report::StreamEntry& entry : got) {
        taken_[entry.entry_id] = entry;
        asio::co_spawn(executor, handle(entry), [](std::exception_ptr e) {
          if (!e) return;
          try {
            std::rethrow_exception(e);
          } catch (const std::exception& ex) {
            logger.error("[任务队列] 处理条目时出错: %s", ex.what());
          }
        });
      }
      if (got.empty() && opt_.once && taken_.empty()) break;
      if (got.empty() && busy > 0) {
        auto waiting = pause(wake, BUSY_LOOK);  // cut short when an item ends
        co_await std::move(waiting);
      }
    } catch (const std::exception& e) {
      // The broker's troubles are waited out; the reader connects again on its next call. A broker
      // restarted without its data lost the group: it is made again (before what this worker had
      // not acknowledged, so nothing is skipped).
      logger.warning("[任务队列] %s；2 秒后重试", quorvel::outside_text(e.what()));
      troubled = true;
      lost_group = std::string_view(e.what()).find("NOGROUP") != std::string_view::npos;
    }
    if (lost_group) {
      lost_group = false;
      auto regroup = quorvel::run_blocking(redis_thread_, [this] { reader_.ensure_group("0"); });
      try {
        co_await std::move(regroup);
        logger.warning("[任务队列] 消费组已不在 (消息服务重启过？)，已重新建立");
      } catch (const std::exception&) {
        // Tried again after the next failure.
      }
    }
    if (troubled) {
      troubled = false;
      auto waiting = pause(wake, 2000ms);
      co_await std::move(waiting);
    }
  }
  // The items under way finish and are acknowledged before the worker ends; their entries stay
  // renewed meanwhile, so that no other worker takes them over.
  while (!taken_.empty()) {
    auto renewal = renew_if_due();
    co_await std::move(renewal);
    auto waiting = pause(wake, 1000ms);
    co_await std::move(waiting);
  }
  wake_ = nullptr;
}

asio::awaitable<Outcome> Worker::analyse(const WorkItem& item) {
  const auto board = board_for(item.job);  // held until the analysis ends
  BatchRun run({{item.code}, item.date, 1, item.force, item.llm_client_type}, board.get());
  run.check_model = check_model_settings;
  runs_.insert(&run);
  std::string error;
  try {
    auto work = run.run();
    co_await std::move(work);
  } catch (const std::exception& e) {
    error = e.what();
  }
  runs_.erase(&run);
  Outcome o;
  if (!run.outcomes().empty()) o = run.outcomes().front();
  o.code = item.code;
  if (!is_done(o.status)) {
    o.status = Status::failed;
    o.reason = error.empty() ? "分析未完成" : error;
  }
  co_return o;
}

asio::awaitable<void> Worker::handle(report::StreamEntry entry) {
  std::optional<std::string> payload;
  std::string job, id = entry.id;
  if (const auto unposted = unposted_.find(entry.entry_id); unposted != unposted_.end()) {
    job = unposted->second.first;  // analysed here already: only its result is still to post
    payload = unposted->second.second;
  } else if (entry.trimmed) {
    logger.info("[任务队列] 条目 %s 已被提交者撤回，跳过", entry.entry_id);
  } else {
    try {
      const WorkItem item = parse_item(entry.payload);
      ItemResult result{item.job, item.index, {}, {}, opt_.name};
      if (item.llm_client_type != client_type_) {
        result.outcome.code = item.code;
        result.outcome.requested = result.outcome.date = item.date;
        result.outcome.status = Status::failed;
        result.outcome.reason = fmt::format("工作进程 {} 使用的 LLM 客户端为 {}，任务要求 {} (LLM_CLIENT_TYPE)",
                                            opt_.name, client_type_, item.llm_client_type);
      } else {
        auto analysis = analyse(item);
        result.outcome = co_await std::move(analysis);
      }
      // What this process spent since its previous report goes with this item.
      const core::UsageTotals now = core::usage_ledger().totals();
      result.usage = now.since(reported_);
      reported_ = now;
      ++handled_;
      const std::string line = outcome_line(result.outcome, handled_, handled_);
      std::fprintf(stderr, "[任务 %s #%zu] %s\n", item.job.c_str(), item.index + 1,
                   line.substr(line.find("] ") == std::string::npos ? 0 : line.find("] ") + 2).c_str());
      job = item.job;
      payload = result_payload(result);
    } catch (const std::exception& e) {
      logger.error("[任务队列] 条目 %s 无法读取，确认并丢弃: %s", entry.entry_id, quorvel::outside_text(e.what()));
    }
  }
  // The result first, then the acknowledgement: an item whose result could not be posted stays
  // pending and is done again (found stored) by whoever takes it over after the lease.
  auto finishing = quorvel::run_blocking(redis_thread_, [this, entry, job, id, payload] {
    if (payload) {
      const std::string stream = results_stream(job), kept = std::to_string(RESULTS_KEPT.count());
      report::add_stream_entry(results_, stream, id, RESULT_TYPE, *payload);
      // NX: a late duplicate leaves the short expiry of a job that is over as it is.
      results_.run({"EXPIRE", stream, kept, "NX"});
    }
    reader_.ack_and_delete(entry);
  });
  try {
    co_await std::move(finishing);
    unposted_.erase(entry.entry_id);
  } catch (const std::exception& e) {
    if (payload) unposted_[entry.entry_id] = {job, *payload};
    logger.warning("[任务队列] %s 的结果未能交回，条目保持未确认，稍后重新交回 (不再重新分析): %s", id,
                   quorvel::outside_text(e.what()));
  }
  ended(entry.entry_id);
}

// Ctrl-C (SIGINT, SIGTERM): the first takes nothing new and lets the items under way finish; the
// second ends the process at once.
void watch_signals(asio::signal_set& signals, Worker& worker) {
  signals.async_wait([&](std::error_code ec, int) {
    if (ec) return;
    if (worker.stop_requested()) {
      worker.abandon();
      quorvel::flush_store();
      logger.backend().flush();
      std::_Exit(EXIT_INTERRUPTED);
    }
    std::fprintf(stderr, "收到停止信号：不再领取新的标的，完成进行中的分析后退出（再按一次 Ctrl-C 立即结束）\n");
    worker.request_stop();
    watch_signals(signals, worker);
  });
}

int run(const Options& opt) {
  report::RedisEndpoint endpoint;
  try {
    endpoint = report::RedisEndpoint::parse(opt.queue, "--queue");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pelion-worker: 任务队列地址无效: %s\n", one_line(e.what()).c_str());
    return 1;
  }
  try {
    quorvel::install_runtime_services();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pelion-worker: 无法打开报告库 (REPORT_DB_URL / REPORT_DIR): %s\n",
                 one_line(e.what()).c_str());
    return 1;
  }
  Worker worker(opt, endpoint);
  try {
    worker.connect();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pelion-worker: 无法连接任务队列 %s: %s\n", endpoint.describe().c_str(),
                 one_line(quorvel::outside_text(e.what())).c_str());
    return 1;
  }
  std::fprintf(stderr, "pelion-worker %s: 已连接任务队列 %s (消费组 %s)，并发 %d，租期 %d 秒%s\n", opt.name.c_str(),
               worker.describe().c_str(), WORKER_GROUP, opt.concurrency, opt.lease, opt.once ? "，队列取空后退出" : "");
  asio::io_context loop;
  asio::signal_set signals(loop, SIGINT, SIGTERM);
  watch_signals(signals, worker);
  auto serve = [&]() -> asio::awaitable<void> {
    std::exception_ptr failure;
    try {
      auto work = worker.serve();
      co_await std::move(work);
    } catch (...) {
      failure = std::current_exception();
    }
    signals.cancel();
    if (failure) std::rethrow_exception(failure);
  };
  quorvel::run_sync(loop, serve());
  quorvel::flush_store();
  std::fprintf(stderr, "pelion-worker %s: 共处理 %zu 项，退出\n", opt.name.c_str(), worker.handled());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("pelion-worker", [&]() -> int {
    quorvel::load_quorvel_env();
    Options opt;
    CLI::App app{
        "批量分析工作进程：从任务队列领取 pelion-batch --queue 提交的标的，逐只做 AI 技术分析并存入报告库，"
        "把结果交回提交者。多台机器上的多个工作进程可共用一个队列；应共用同一个报告库 (REPORT_DB_URL)，"
        "同一标的同一日只分析一次",
        "pelion-worker"};
    app.add_option("--queue", opt.queue,
                   "任务队列地址：redis://[[用户]:密码@]主机[:端口][/库]，与 pelion-batch --queue 相同 (默认 "
                   "QUORVEL_QUEUE_URL；含密码时宜用该变量，命令行在进程列表中人人可见)");
    app.add_option("-c,--concurrency", opt.concurrency,
                   "同时进行的分析数 (默认: 8；LLM 同时请求数另受 LLM_MAX_IN_FLIGHT 限制)")
        ->check(quorvel::integer_range(1, 64));
    app.add_option("--lease", opt.lease,
                   "租期（秒，默认: 300）：其他工作进程领取后超过这么久未确认的标的（该进程多半已退出）由本进程接手；"
                   "本进程每隔三分之一租期续租进行中的标的。共用一个队列的工作进程须使用相同的租期")
        ->check(quorvel::integer_range(1, 24 * 3600));
    app.add_flag("--once", opt.once,
                 "队列中没有可领取的标的时退出（用于测试和定时任务）；默认一直运行到 SIGTERM / Ctrl-C");
    app.add_option("--name", opt.name,
                   "消费者名称 (默认: 主机名:进程号)；重启后沿用同一名称可立即接手自己未确认的标的");
    app.add_flag("-v,--verbose", opt.verbose, "在终端输出每只标的的完整分析日志");
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;
    if (opt.queue.empty()) opt.queue = quorvel::env_value("QUORVEL_QUEUE_URL").value_or("");
    if (opt.queue.empty()) {
      std::fprintf(stderr,
                   "pelion-worker: 请用 --queue 或 QUORVEL_QUEUE_URL 指定任务队列 (redis://主机[:端口][/库])\n");
      return 2;
    }
    quorvel::setup_logging((std::filesystem::current_path() / "logs").string(), "INFO");
    if (!opt.verbose) quorvel::logger.set_console_level(quorvel::LogLevel::warning);
    return run(opt);
  });
}
