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
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/outside_text.h"

namespace {

using namespace std::chrono_literals;
using quorvel::logger;
using Json = nlohmann::ordered_json;
namespace delivery = quorvel::delivery;
namespace report = quorvel::report;

// How long one read waits for new reports: also how soon a stop request is noticed.
constexpr auto READ_BLOCK = 2s;
// How often entries whose push failed are tried again (each try is one run of the channel's claim:
// after its runs are used up the entry is given up, logged as an error).
constexpr auto PENDING_RETRY = 2min;
constexpr std::size_t READ_COUNT = 20, PENDING_COUNT = 1000;
constexpr auto LONGEST_BACKOFF = 30s;

std::atomic<bool> stop_requested{false};

extern "C" void request_stop(int) { stop_requested = true; }

struct Options {
  std::string url, group = "quorvel-notify", consumer;
  bool from_start = false, once = false;
};

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
        start_(opt.from_start ? "0" : "$") {}

  // Handles what is waiting (pending entries first); false when a push stays pending.
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
    const bool all = handle_all(reader_.pending(PENDING_COUNT), inherited);
    started_ = true;
    return all;
  }

  bool handle_all(const std::vector<report::StreamEntry>& entries, bool take_over = false) {
    bool all = true;
    for (const auto& e : entries) {
      if (stop_requested) return false;
      if (!handle(e, take_over)) {
        all = false;
        continue;
      }
      reader_.ack(e);
    }
    return all;
  }

  // True when the entry is done with: pushed everywhere, refused for good, or nothing to push.
  bool handle(const report::StreamEntry& e, bool take_over) {
    if (e.trimmed) {
      logger.warning("[推送] %s 的条目 %s 已从流中删除，跳过", e.stream, e.entry_id);
      return true;
    }
    const Json message = Json::parse(e.payload, nullptr, false);
    const auto push = message.is_object() ? quorvel::notify::notification_of(message) : std::nullopt;
    if (!message.is_object()) logger.error("[推送] %s 的条目 %s 不是 JSON 对象，跳过", e.stream, e.entry_id);
    if (!push) return true;
    std::vector<delivery::ChannelOutcome> outcomes;
    try {
      delivery::DeliveryOptions options;
      options.take_over_claims = take_over;
      outcomes = delivery::deliver_digest(channels_, *push, store_, delivery::DELIVERY_RETRY, options);
    } catch (const quorvel::ValueError& ex) {
      logger.error("[推送] 消息 %s 无法推送，跳过: %s", quorvel::outside_text(e.id), outside_text_of(ex));
      return true;
    }
    bool settled = true;
    std::string notes;
    for (const auto& o : outcomes) {
      settled = settled && o.settled;
      notes += fmt::format("{}{} {}", notes.empty() ? "" : "，", o.channel, delivery::status_name(o.status));
      if (o.status == delivery::DeliveryStatus::failed && o.settled)
        logger.error("[推送] %s 放弃推送消息 %s: %s", o.channel, push->id, o.detail);
    }
    std::cout << fmt::format("{} [{}]: {}{}\n", push->title, push->id, notes, settled ? "" : "（稍后重试）")
              << std::flush;
    return settled;
  }

  report::RedisGroupReader reader_;
  std::vector<delivery::Channel> channels_;
  report::ReportStore& store_;
  std::string start_;
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
    app.add_flag("--once", opt.once, "推送已在等待的消息后退出 (适合定时任务)；有推送失败时退出码为 1");
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
