// quorvel-notify: pushes each market brief and each buy to the delivery channels as the reports are
// stored. It reads the report streams of the message queue (QUORVEL_MQ_URL) through a consumer
// group, so a restart resumes where the last run left off: a message is acknowledged only once every
// channel has it (or has refused it for good), and one that was being pushed when the notifier died
// is pushed again after the restart; the report store's delivery claims keep that to at most the one
// message in flight, which carries its message id.
//
// Runs until SIGTERM or Ctrl-C (exit 0); with --once it handles what is waiting and exits (0, or 1
// when a push failed and stays pending). Exit 2 for a usage or configuration error.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <limits>
#include <map>
#include <optional>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "quorvel/commands/quorvel-notify/notification.h"
#include "quorvel/delivery/channels.h"
#include "quorvel/delivery/deliver.h"
#include "quorvel/report/default_store.h"
#include "quorvel/report/message.h"
#include "quorvel/report/redis_group_reader.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/atomic_file.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/file_lock.h"
#include "quorvel/utils/json_display.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/retry_policy.h"

namespace {

using namespace std::chrono_literals;
using quorvel::logger;
using Json = nlohmann::ordered_json;
namespace delivery = quorvel::delivery;
namespace report = quorvel::report;

// How long one read waits for new reports: also how soon a stop request is noticed.
constexpr auto READ_BLOCK = 2s;
// How often entries whose push failed are tried again. A push that failed for a reason that may
// pass (a time-out, a 5xx, a 429) is tried until it goes through; one a channel refused outright
// is given up after REFUSED_RUNS runs, logged as an error.
constexpr auto PENDING_RETRY = 2min;
constexpr int REFUSED_RUNS = 3;
// Entries another consumer of the group was handed and left this long are taken over (a consumer
// that died for good, or one renamed); a live consumer touches its pending entries every
// PENDING_RETRY.
constexpr auto ORPHANED_AFTER = 10min;
constexpr std::size_t READ_COUNT = 20, PENDING_COUNT = 1000;
constexpr auto LONGEST_BACKOFF = 30s;
// One request to a channel; a stop request waits at most this long.
constexpr auto PUSH_TIMEOUT = 15s;
// Tries of one push within one pass: a channel that is down is left to the next pass (every
// PENDING_RETRY) rather than waited for here, where every later message would queue behind it.
constexpr quorvel::RetryPolicy PUSH_RETRY{3, 1s, 5s, 20s};

std::atomic<bool> stop_requested{false};

extern "C" void request_stop(int) { stop_requested = true; }

struct Options {
  std::string url, group = "quorvel-notify", consumer;
  bool from_start = false, once = false;
};

// A name as part of a file name: characters other than letters, digits, '.', '-' and '_' become '_'.
std::string file_safe(std::string name) {
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') c = '_';
  return name;
}

std::string default_consumer() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "notify";
  return std::string("notify@") + host;
}

class Notifier {
 public:
  Notifier(const Options& opt, std::vector<delivery::Channel> channels, report::ReportStore& store)
      : reader_(report::RedisEndpoint::parse(opt.url), opt.group, opt.consumer,
                {std::string(report::stream_name(report::ReportKind::solvara)),
                 std::string(report::stream_name(report::ReportKind::analysis))}),
        channels_(std::move(channels)),
        store_(store),
        start_(opt.from_start ? "0" : "$"),
        state_file_(quorvel::report_directory() /
                    fmt::format("notify-{}-{}.state.json", file_safe(opt.group), file_safe(opt.consumer))) {
    load_resume_points();
  }

  // Handles what is waiting (pending entries first); false when a push stays pending or was given up.
  bool drain() {
    reader_.ensure_group(start_);
    bool all = handle_pending();
    for (std::vector<report::StreamEntry> batch; !stop_requested;) {
      batch = reader_.next(READ_COUNT, 0ms);
      if (batch.empty()) break;
      all = handle_all(batch) && all;
    }
    return all;
  }

  // Until a stop is requested; the broker's troubles are waited out with growing pauses.
  void serve() {
    auto backoff = 1s;
    auto next_pending = std::chrono::steady_clock::now();
    bool group_ready = false;
    while (!stop_requested) {
      try {
        if (!group_ready) {
          reader_.ensure_group(start_);
          group_ready = true;
          logger.info("[推送] 已连接 %s，消费组就绪", reader_.describe());
        }
        if (std::chrono::steady_clock::now() >= next_pending) {
          handle_pending();
          next_pending = std::chrono::steady_clock::now() + PENDING_RETRY;
        }
        handle_all(reader_.next(READ_COUNT, READ_BLOCK));
        backoff = 1s;
      } catch (const std::exception& e) {
        logger.warning("[推送] %s；%d 秒后重试", outside_text_of(e), int(backoff.count()));
        group_ready = false;
        pause(backoff);
        backoff = std::min(backoff * 2, std::chrono::duration_cast<std::chrono::seconds>(LONGEST_BACKOFF));
      }
    }
  }

 private:
  static std::string outside_text_of(const std::exception& e) { return quorvel::outside_text(e.what()); }

  static void pause(std::chrono::seconds wait) {
    for (auto left = std::chrono::milliseconds(wait); left > 0ms && !stop_requested; left -= 100ms)
      std::this_thread::sleep_for(100ms);
  }

  // The entries this consumer was handed and has not acknowledged. The first time after a start they
  // are what an earlier run of this consumer was pushing when it died: their claims are taken over
  // at once (one of them may then arrive twice, with its id).
  bool handle_pending() {
    const bool inherited = !started_;
    if (const std::size_t taken = reader_.claim_idle(ORPHANED_AFTER); taken > 0)
      logger.warning("[推送] 接手了其他消费者搁置超过 %d 分钟的 %d 条消息", int(ORPHANED_AFTER.count()), int(taken));
    const bool all = handle_all(reader_.pending(PENDING_COUNT), inherited);
    started_ = true;
    return all;
  }

  // False when an entry stays pending or was given up. A channel whose pushes failed for a reason
  // that may pass twice in a row is left alone for the rest of the pass (it is likely down; one
  // message it keeps failing must not hold back the others), its entries staying pending.
  bool handle_all(const std::vector<report::StreamEntry>& entries, bool take_over = false) {
    bool all = true;
    std::map<std::string, int> failing;  // channel -> pushes in a row that failed and may succeed later
    for (const auto& e : entries) {
      if (stop_requested) return false;
      const Fate fate = handle(e, take_over, failing);
      all = all && fate == Fate::done;
      if (fate != Fate::pending) reader_.ack(e);
    }
    save_resume_points();
    return all;
  }

  enum class Fate { done, given_up, pending };

  // Whether the entry is done with (pushed everywhere, or nothing to push), was given up (a channel
  // refused it REFUSED_RUNS times; acknowledged too) or stays pending. Channels with two failures
  // that may pass in a row in `failing` are not tried; the counts are kept there (reset by a success).
  Fate handle(const report::StreamEntry& e, bool take_over, std::map<std::string, int>& failing) {
    if (e.trimmed) {
      logger.warning("[推送] %s 的条目 %s 已从流中删除，跳过", e.stream, e.entry_id);
      return Fate::done;
    }
    std::optional<delivery::Digest> push;
    try {
      const Json message = Json::parse(e.payload);
      push = quorvel::notify::notification_of(message);
      if (!push && quorvel::string_member(message, "id").empty())
        logger.warning("[推送] %s 的条目 %s 没有消息 id，跳过", e.stream, e.entry_id);
    } catch (const std::exception& ex) {
      logger.error("[推送] %s 的条目 %s 无法读取，跳过: %s", e.stream, e.entry_id, outside_text_of(ex));
      return Fate::given_up;
    }
    if (!push) return Fate::done;
    std::vector<delivery::Channel> up;
    for (const auto& c : channels_)
      if (failing[c.name] < 2) up.push_back(c);
    if (up.empty()) return Fate::pending;
    std::vector<delivery::ChannelOutcome> outcomes;
    try {
      delivery::DeliveryOptions options;
      options.take_over_claims = take_over;
      options.claim.max_attempts = std::numeric_limits<int>::max();  // this loop decides when to give up
      options.request_timeout = PUSH_TIMEOUT;
      options.stop_requested = [] { return stop_requested.load(); };
      outcomes = delivery::deliver_digest(up, *push, store_, PUSH_RETRY, options);
    } catch (const quorvel::ValueError& ex) {
      logger.error("[推送] 消息 %s 无法推送，跳过: %s", quorvel::outside_text(e.id), outside_text_of(ex));
      return Fate::given_up;
    }
    Fate fate = up.size() < channels_.size() ? Fate::pending : Fate::done;  // the channels left alone still need it
    std::string notes;
    for (const auto& o : outcomes) {
      notes += fmt::format("{}{} {}", notes.empty() ? "" : "，", o.channel, delivery::status_name(o.status));
      if (o.status == delivery::DeliveryStatus::sent || o.status == delivery::DeliveryStatus::already_sent) {
        failing[o.channel] = 0;
        continue;
      }
      if (o.status == delivery::DeliveryStatus::failed && !o.transient) {
        // Refusals are counted by this process: a restart gives a refused push its tries again.
        if (++refusals_[push->id + "\n" + o.channel] >= REFUSED_RUNS) {
          logger.error("[推送] %s 拒绝了消息 %s %d 次，放弃: %s", o.channel, push->id, REFUSED_RUNS, o.detail);
          if (fate == Fate::done) fate = Fate::given_up;
          continue;
        }
      } else if (o.status == delivery::DeliveryStatus::failed) {
        ++failing[o.channel];
      }
      fate = Fate::pending;
    }
    std::cout << fmt::format("{} [{}]: {}{}\n", push->title, push->id, notes,
                             fate == Fate::pending ? "（稍后重试）" : fate == Fate::given_up ? "（已放弃）" : "")
              << std::flush;
    return fate;
  }

  // The group's last handed-out entry per stream, kept on disk: a group lost while this consumer
  // was stopped (a broker restarted without its data) is made again after it, not at the end.
  void load_resume_points() {
    std::error_code ec;
    if (!std::filesystem::exists(state_file_, ec)) return;
    try {
      const Json saved = Json::parse(quorvel::read_whole_file(state_file_));
      std::map<std::string, std::string> points;
      for (const auto& [stream, id] : saved.items())
        if (id.is_string()) points[stream] = id.get<std::string>();
      reader_.set_resume_points(points);
    } catch (const std::exception& e) {
      logger.warning("[推送] 读取 %s 失败，消费组丢失时将从最新的消息开始: %s", state_file_.string(), outside_text_of(e));
    }
  }

  void save_resume_points() {
    const auto points = reader_.resume_points();
    if (points == saved_points_) return;
    try {
      Json out = Json::object();
      for (const auto& [stream, id] : points) out[stream] = id;
      quorvel::write_file_atomically(state_file_, out.dump() + "\n");
      saved_points_ = points;
    } catch (const std::exception& e) {
      logger.warning("[推送] 无法写入 %s: %s", state_file_.string(), outside_text_of(e));
    }
  }

  report::RedisGroupReader reader_;
  std::vector<delivery::Channel> channels_;
  report::ReportStore& store_;
  std::string start_;
  std::filesystem::path state_file_;
  std::map<std::string, std::string> saved_points_;
  std::map<std::string, int> refusals_;  // message id and channel -> refusals seen by this process
  bool started_ = false;  // the entries inherited from an earlier run have been handled
};

int run(const Options& opt) {
  std::vector<delivery::Channel> channels;
  try {
    channels = delivery::configured_channels();
  } catch (const std::exception& e) {
    std::cerr << "quorvel-notify: 推送渠道配置有误: " << e.what() << "\n";
    return 2;
  }
  if (channels.empty()) {
    std::cerr << "quorvel-notify: 没有配置推送渠道：在 config/delivery.json 中列出渠道，或用 QUORVEL_DELIVERY_FILE "
                 "指向渠道文件 (格式见 config/delivery.example.json)\n";
    return 2;
  }
  const auto store = report::make_default_report_store();
  // One process per consumer name: a second one would take over the first one's pushes under way.
  const auto lock_file = quorvel::report_directory() / fmt::format("notify-{}-{}.lock", file_safe(opt.group),
                                                                   file_safe(opt.consumer));
  const quorvel::FileLock only_one(lock_file, quorvel::FileLock::NoWait{});
  if (!only_one.held()) {
    std::cerr << "quorvel-notify: 另一个 quorvel-notify 正以消费者 " << quorvel::outside_text(opt.consumer)
              << " (消费组 " << quorvel::outside_text(opt.group)
              << ") 运行；同时运行多个时用 --consumer 给每个取不同的名称\n";
    return 2;
  }
  Notifier notifier(opt, std::move(channels), *store);
  if (opt.once) return notifier.drain() ? 0 : 1;
  std::signal(SIGINT, request_stop);
  std::signal(SIGTERM, request_stop);
  logger.info("[推送] 开始读取 %s (消费组 %s，消费者 %s)", report::RedisEndpoint::parse(opt.url).describe(), opt.group,
              opt.consumer);
  notifier.serve();
  logger.info("[推送] 已停止");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return quorvel::run_main("quorvel-notify", [&]() -> int {
    quorvel::load_quorvel_env();
    Options opt;
    opt.consumer = default_consumer();
    CLI::App app{"把存入报告库的每份大盘 AI 简报和每个买入计划推送到推送渠道 (config/delivery.json)。"
                 "通过 Redis 消费组读取消息队列，重启后从上次停下的地方继续；每条消息每个渠道只推送一次，"
                 "只有推送中途被终止的那一条可能重复一次（带相同的消息 id）。",
                 "quorvel-notify"};
    app.add_option("--url", opt.url, "消息队列地址 redis://[[user]:password@]host[:port][/db] (默认：QUORVEL_MQ_URL)");
    app.add_option("--group", opt.group, "消费组名称 (默认 quorvel-notify)；各组互不影响，各自收到全部消息");
    app.add_option("--consumer", opt.consumer, "本消费者的名称 (默认 notify@主机名)；重启时保持不变才能接上未完成的推送");
    app.add_flag("--from-start", opt.from_start, "新建消费组时从队列中最早的消息开始 (默认只推送启动之后存入的报告)");
    app.add_flag("--once", opt.once, "推送已在等待的消息后退出 (适合定时任务)；有消息仍待推送或被放弃时退出码为 1");
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;
    if (opt.url.empty()) opt.url = quorvel::env_value("QUORVEL_MQ_URL").value_or("");
    if (opt.url.empty()) {
      std::cerr << "quorvel-notify: 未设置消息队列地址：设置 QUORVEL_MQ_URL 或使用 --url redis://host:port/db\n";
      return 2;
    }
    try {
      report::RedisEndpoint::parse(opt.url);
    } catch (const quorvel::ValueError& e) {
      std::cerr << "quorvel-notify: " << e.what() << "\n";
      return 2;
    }
    quorvel::setup_logging((std::filesystem::current_path() / "logs").string(), "INFO");
    return run(opt);
  });
}
