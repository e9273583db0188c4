#include "quorvel/report/redis_publisher.h"

#include <hiredis/hiredis.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <vector>

#include <fmt/format.h>

#include "contracts/errors.h"

namespace quorvel::report {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view URL_FORM = "redis://[[user]:password@]host[:port][/db]";

int parse_int(std::string_view text, std::string_view what, std::string_view url, int lo, int hi) {
  int value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || value < lo || value > hi)
    throw ValueError(fmt::format("QUORVEL_MQ_URL 的{}无效: '{}' (应为 {}，实际为 {})", what, text, URL_FORM, url));
  return value;
}

timeval to_timeval(std::chrono::milliseconds ms) {
  ms = std::max(ms, std::chrono::milliseconds(1));
  return timeval{static_cast<time_t>(ms.count() / 1000), static_cast<suseconds_t>((ms.count() % 1000) * 1000)};
}

std::chrono::milliseconds remaining(Clock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
}

struct ReplyDeleter {
  void operator()(redisReply* r) const { freeReplyObject(r); }
};
using Reply = std::unique_ptr<redisReply, ReplyDeleter>;

std::string context_error(const redisContext* c) {
  if (!c) return "无法分配 Redis 连接";
  if (c->err == REDIS_ERR_IO && (errno == EAGAIN || errno == EWOULDBLOCK)) return "等待 Redis 应答超时";
  if (c->err == REDIS_ERR_EOF) return "Redis 关闭了连接";
  return c->errstr[0] ? std::string(c->errstr) : std::string("Redis 连接错误");
}

}  // namespace

RedisEndpoint RedisEndpoint::parse(std::string_view url) {
  constexpr std::string_view scheme = "redis://";
  if (url.substr(0, scheme.size()) != scheme)
    throw ValueError(fmt::format("QUORVEL_MQ_URL 必须以 redis:// 开头 (应为 {}，实际为 {})", URL_FORM, url));
  std::string_view rest = url.substr(scheme.size());
  RedisEndpoint ep;
  if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
    const std::string_view auth = rest.substr(0, at);
    rest = rest.substr(at + 1);
    if (const auto colon = auth.find(':'); colon != std::string_view::npos) {
      ep.user = std::string(auth.substr(0, colon));
      ep.password = std::string(auth.substr(colon + 1));
    } else {
      ep.password = std::string(auth);
    }
  }
  std::string_view hostport = rest;
  if (const auto slash = rest.find('/'); slash != std::string_view::npos) {
    hostport = rest.substr(0, slash);
    const std::string_view db = rest.substr(slash + 1);
    if (!db.empty()) ep.db = parse_int(db, "数据库编号", url, 0, 1 << 20);
  }
  std::string_view port;
  if (!hostport.empty() && hostport.front() == '[') {
    const auto close = hostport.find(']');
    if (close == std::string_view::npos)
      throw ValueError(fmt::format("QUORVEL_MQ_URL 的主机地址缺少 ']' (应为 {}，实际为 {})", URL_FORM, url));
    ep.host = std::string(hostport.substr(1, close - 1));
    const std::string_view after = hostport.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':')
        throw ValueError(fmt::format("QUORVEL_MQ_URL 格式无效 (应为 {}，实际为 {})", URL_FORM, url));
      port = after.substr(1);
    }
  } else if (const auto colon = hostport.rfind(':'); colon != std::string_view::npos) {
    ep.host = std::string(hostport.substr(0, colon));
    port = hostport.substr(colon + 1);
  } else {
    ep.host = std::string(hostport);
  }
  if (ep.host.empty())
    throw ValueError(fmt::format("QUORVEL_MQ_URL 缺少主机名 (应为 {}，实际为 {})", URL_FORM, url));
  if (!port.empty()) ep.port = parse_int(port, "端口", url, 1, 65535);
  return ep;
}

std::string RedisEndpoint::describe() const {
  const bool v6 = host.find(':') != std::string::npos;
  const std::string auth = password.empty() ? std::string() : (user.empty() ? "***@" : user + ":***@");
  return fmt::format("redis://{}{}{}{}:{}/{}", auth, v6 ? "[" : "", host, v6 ? "]" : "", port, db);
}

void RedisPublisher::ContextDeleter::operator()(redisContext* c) const { redisFree(c); }

RedisPublisher::RedisPublisher(RedisEndpoint endpoint, RedisTimeouts timeouts)
    : endpoint_(std::move(endpoint)), timeouts_(timeouts) {}

RedisPublisher::~RedisPublisher() = default;

void RedisPublisher::set_command_timeout(Clock::time_point deadline) {
  redisSetTimeout(ctx_.get(), to_timeval(std::min(timeouts_.command, remaining(deadline))));
}

std::string RedisPublisher::connect(Clock::time_point deadline) {
  const auto budget = std::min(timeouts_.connect, remaining(deadline));
  ctx_.reset(redisConnectWithTimeout(endpoint_.host.c_str(), endpoint_.port, to_timeval(budget)));
  if (!ctx_ || ctx_->err) {
    std::string why = context_error(ctx_.get());
    ctx_.reset();
    return fmt::format("无法连接 {}: {}", describe(), why);
  }
  set_command_timeout(deadline);
  const auto command = [&](std::vector<std::string> args) -> std::string {
    std::vector<const char*> argv;
    std::vector<size_t> lens;
    for (const auto& a : args) {
      argv.push_back(a.data());
      lens.push_back(a.size());
    }
    Reply r(static_cast<redisReply*>(redisCommandArgv(ctx_.get(), int(argv.size()), argv.data(), lens.data())));
    if (!r) return context_error(ctx_.get());
    if (r->type == REDIS_REPLY_ERROR) return std::string(r->str, r->len);
    return {};
  };
  std::string err;
  if (!endpoint_.password.empty())
    err = endpoint_.user.empty() ? command({"AUTH", endpoint_.password})
                                 : command({"AUTH", endpoint_.user, endpoint_.password});
  if (err.empty() && endpoint_.db != 0) err = command({"SELECT", std::to_string(endpoint_.db)});
  if (!err.empty()) {
    ctx_.reset();
    return fmt::format("连接 {} 后初始化失败: {}", describe(), err);
  }
  return {};
}

BatchOutcome RedisPublisher::publish(std::span<const OutgoingMessage> batch, Clock::time_point deadline) {
  BatchOutcome out;
  out.messages.resize(batch.size());
  const auto fail_from = [&](std::size_t first, const std::string& why) {
    out.connection_lost = true;
    out.connection_error = why;
    for (std::size_t i = first; i < batch.size(); ++i) out.messages[i].error = why;
    ctx_.reset();
    return out;
  };
  if (batch.empty()) return out;
  if (remaining(deadline).count() <= 0) return fail_from(0, "本次投递的时间已用完");
  if (!ctx_) {
    if (std::string err = connect(deadline); !err.empty()) return fail_from(0, err);
  }
  set_command_timeout(deadline);

  for (const OutgoingMessage& m : batch) {
    const char* argv[] = {"XADD", m.stream.c_str(), "*", "id", m.id.c_str(), "type", m.type.c_str(), "payload",
                          m.payload.data()};
    const size_t lens[] = {4, m.stream.size(), 1, 2, m.id.size(), 4, m.type.size(), 7, m.payload.size()};
    if (redisAppendCommandArgv(ctx_.get(), 9, argv, lens) != REDIS_OK)
      return fail_from(0, "无法写入 Redis 命令: " + context_error(ctx_.get()));
  }
  for (std::size_t i = 0; i < batch.size(); ++i) {
    void* raw = nullptr;
    if (redisGetReply(ctx_.get(), &raw) != REDIS_OK) return fail_from(i, context_error(ctx_.get()));
    const Reply reply(static_cast<redisReply*>(raw));
    DeliveryOutcome& o = out.messages[i];
    if (reply->type == REDIS_REPLY_STRING || reply->type == REDIS_REPLY_STATUS) {
      o.delivered = true;
      o.entry_id.assign(reply->str, reply->len);
    } else if (reply->type == REDIS_REPLY_ERROR) {
      o.error.assign(reply->str, reply->len);
    } else {
      o.error = "Redis 返回了意外的应答类型";
    }
  }
  return out;
}

}  // namespace quorvel::report
