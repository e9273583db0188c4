#include "quorvel/report/redis_publisher.h"

#include <hiredis/hiredis.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <numeric>
#include <vector>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "quorvel/report/delivery_script.h"

namespace quorvel::report {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view URL_FORM = "redis://[[user]:password@]host[:port][/db]";

// The URL as it may be shown: a password in it (anything between the scheme and the last '@',
// after the user name) is replaced by "***", even when the rest of the URL is malformed.
std::string masked(std::string_view url) {
  const auto start = url.find("://") == std::string_view::npos ? 0 : url.find("://") + 3;
  const auto at = url.rfind('@');
  if (at == std::string_view::npos || at < start) return std::string(url);
  const std::string_view auth = url.substr(start, at - start);
  const auto colon = auth.find(':');
  const std::string user = colon == std::string_view::npos ? std::string() : std::string(auth.substr(0, colon)) + ":";
  return std::string(url.substr(0, start)) + user + "***" + std::string(url.substr(at));
}

int parse_int(std::string_view text, std::string_view what, std::string_view url, int lo, int hi) {
  int value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || value < lo || value > hi)
    throw ValueError(
        fmt::format("QUORVEL_MQ_URL 的{}无效: '{}' (应为 {}，实际为 {})", what, text, URL_FORM, masked(url)));
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

enum class ReplyFit { read, unknown_script, not_ours };

// Reads the delivery script's reply to `message` into `o`. A reply that echoes another message's
// id means the connection's replies are out of step with its requests.
ReplyFit read_outcome(const redisReply& r, const OutgoingMessage& message, DeliveryOutcome& o) {
  if (r.type == REDIS_REPLY_ARRAY && r.elements == 3 && r.element[0]->type == REDIS_REPLY_STRING &&
      r.element[1]->type == REDIS_REPLY_INTEGER && r.element[2]->type == REDIS_REPLY_STRING) {
    if (std::string_view(r.element[2]->str, r.element[2]->len) != message.id) return ReplyFit::not_ours;
    o.delivered = true;
    o.entry_id.assign(r.element[0]->str, r.element[0]->len);
    o.duplicate = r.element[1]->integer == 0;
    return ReplyFit::read;
  }
  if (r.type == REDIS_REPLY_ERROR) {
    const std::string_view text(r.str, r.len);
    if (text.starts_with("NOSCRIPT")) return ReplyFit::unknown_script;
    o.error.assign(text);
    return ReplyFit::read;
  }
  o.error = "Redis 返回了意外的应答类型";
  return ReplyFit::read;
}

}  // namespace

RedisEndpoint RedisEndpoint::parse(std::string_view url) {
  constexpr std::string_view scheme = "redis://";
  if (url.substr(0, scheme.size()) != scheme)
    throw ValueError(fmt::format("QUORVEL_MQ_URL 必须以 redis:// 开头 (应为 {}，实际为 {})", URL_FORM, masked(url)));
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
      throw ValueError(fmt::format("QUORVEL_MQ_URL 的主机地址缺少 ']' (应为 {}，实际为 {})", URL_FORM, masked(url)));
    ep.host = std::string(hostport.substr(1, close - 1));
    const std::string_view after = hostport.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':')
        throw ValueError(fmt::format("QUORVEL_MQ_URL 格式无效 (应为 {}，实际为 {})", URL_FORM, masked(url)));
      port = after.substr(1);
    }
  } else if (const auto colon = hostport.rfind(':'); colon != std::string_view::npos) {
    ep.host = std::string(hostport.substr(0, colon));
    port = hostport.substr(colon + 1);
  } else {
    ep.host = std::string(hostport);
  }
  if (ep.host.empty())
    throw ValueError(fmt::format("QUORVEL_MQ_URL 缺少主机名 (应为 {}，实际为 {})", URL_FORM, masked(url)));
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
  // Runs one command; returns its error, empty on success, and its text reply in `answer`.
  const auto command = [&](std::vector<std::string> args, std::string* answer = nullptr) -> std::string {
    std::vector<const char*> argv;
    std::vector<size_t> lens;
    for (const auto& a : args) {
      argv.push_back(a.data());
      lens.push_back(a.size());
    }
    Reply r(static_cast<redisReply*>(redisCommandArgv(ctx_.get(), int(argv.size()), argv.data(), lens.data())));
    if (!r) return context_error(ctx_.get());
    if (r->type == REDIS_REPLY_ERROR) return std::string(r->str, r->len);
    if (answer && r->type == REDIS_REPLY_STRING) answer->assign(r->str, r->len);
    return {};
  };
  std::string err;
  if (!endpoint_.password.empty())
    err = endpoint_.user.empty() ? command({"AUTH", endpoint_.password})
                                 : command({"AUTH", endpoint_.user, endpoint_.password});
  if (err.empty() && endpoint_.db != 0) err = command({"SELECT", std::to_string(endpoint_.db)});
  if (err.empty()) err = command({"SCRIPT", "LOAD", std::string(DELIVERY_SCRIPT)}, &script_digest_);
  if (!err.empty()) {
    ctx_.reset();
    return fmt::format("连接 {} 后初始化失败: {}", describe(), err);
  }
  return {};
}

bool RedisPublisher::append(const OutgoingMessage& m, bool by_digest) {
  const std::string key = delivered_key(m.id);
  const std::string ttl = std::to_string(DELIVERED_ID_TTL.count());
  const std::string_view script = by_digest ? std::string_view(script_digest_) : DELIVERY_SCRIPT;
  // EVAL[SHA] script 2 stream delivered-key id type payload ttl
  const char* argv[] = {by_digest ? "EVALSHA" : "EVAL",
                        script.data(),
                        "2",
                        m.stream.c_str(),
                        key.c_str(),
                        m.id.c_str(),
                        m.type.c_str(),
                        m.payload.data(),
                        ttl.c_str()};
  const size_t lens[] = {by_digest ? 7u : 4u, script.size(),    1,         m.stream.size(), key.size(), m.id.size(),
                         m.type.size(),       m.payload.size(), ttl.size()};
  return redisAppendCommandArgv(ctx_.get(), 9, argv, lens) == REDIS_OK;
}

void RedisPublisher::lose(BatchOutcome& out, std::span<const std::size_t> which, const std::string& why) {
  out.connection_lost = true;
  out.connection_error = why;
  for (const std::size_t i : which) out.messages[i].error = why;
  ctx_.reset();
}

std::vector<std::size_t> RedisPublisher::round(std::span<const OutgoingMessage> batch,
                                               std::span<const std::size_t> which, bool by_digest, BatchOutcome& out) {
  for (const std::size_t i : which) {
    if (!append(batch[i], by_digest)) {
      lose(out, which, "无法写入 Redis 命令: " + context_error(ctx_.get()));
      return {};
    }
  }
  std::vector<std::size_t> unknown_script;
  for (std::size_t k = 0; k < which.size(); ++k) {
    void* raw = nullptr;
    if (redisGetReply(ctx_.get(), &raw) != REDIS_OK) {
      lose(out, which.subspan(k), context_error(ctx_.get()));
      return {};
    }
    const Reply reply(static_cast<redisReply*>(raw));
    const std::size_t i = which[k];
    switch (read_outcome(*reply, batch[i], out.messages[i])) {
      case ReplyFit::read: break;
      case ReplyFit::unknown_script: unknown_script.push_back(i); break;
      case ReplyFit::not_ours:
        lose(out, which.subspan(k), "Redis 的应答与请求对不上，已断开连接，这些消息稍后重发");
        return {};
    }
  }
  return unknown_script;
}

BatchOutcome RedisPublisher::publish(std::span<const OutgoingMessage> batch, Clock::time_point deadline) {
  const auto start = Clock::now();
  BatchOutcome out = publish_batch(batch, deadline);
  // A broker that refuses or drops the connection fails at once; one that lost the connection only
  // after a wait as long as the connect time-out let it run out.
  out.unresponsive = out.connection_lost && Clock::now() - start >= timeouts_.connect;
  return out;
}

BatchOutcome RedisPublisher::publish_batch(std::span<const OutgoingMessage> batch, Clock::time_point deadline) {
  BatchOutcome out;
  out.messages.resize(batch.size());
  if (batch.empty()) return out;
  std::vector<std::size_t> all(batch.size());
  std::iota(all.begin(), all.end(), std::size_t{0});
  if (remaining(deadline).count() <= 0) {
    lose(out, all, "本次投递的时间已用完");
    return out;
  }
  if (!ctx_) {
    if (std::string err = connect(deadline); !err.empty()) {
      lose(out, all, err);
      return out;
    }
  }
  set_command_timeout(deadline);
  const std::vector<std::size_t> again = round(batch, all, true, out);
  if (!again.empty() && ctx_) {
    for (const std::size_t i : round(batch, again, false, out))
      out.messages[i].error = "Redis 不认得投递脚本 (NOSCRIPT)";
  }
  return out;
}

}  // namespace quorvel::report
