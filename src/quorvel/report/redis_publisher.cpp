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

std::chrono::milliseconds remaining(Clock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
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

RedisPublisher::RedisPublisher(RedisEndpoint endpoint, RedisTimeouts timeouts)
    : endpoint_(std::move(endpoint)), timeouts_(timeouts) {}

RedisPublisher::~RedisPublisher() = default;

void RedisPublisher::set_command_timeout(Clock::time_point deadline) {
  set_redis_timeout(ctx_.get(), std::min(timeouts_.command, remaining(deadline)));
}

std::string RedisPublisher::connect(Clock::time_point deadline) {
  OpenedRedis opened = open_redis(endpoint_, std::min(timeouts_.connect, remaining(deadline)),
                                  std::min(timeouts_.command, remaining(deadline)));
  if (!opened.context) return opened.error;
  ctx_ = std::move(opened.context);
  const RedisReply r = redis_command(ctx_.get(), {"SCRIPT", "LOAD", DELIVERY_SCRIPT});
  const std::string err = !r                              ? redis_context_error(ctx_.get())
                          : r->type == REDIS_REPLY_ERROR  ? std::string(r->str, r->len)
                          : r->type != REDIS_REPLY_STRING ? std::string("SCRIPT LOAD 的应答不是文本")
                                                          : std::string();
  if (!err.empty()) {
    ctx_.reset();
    return fmt::format("连接 {} 后初始化失败: {}", describe(), err);
  }
  script_digest_.assign(r->str, r->len);
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
      lose(out, which, "无法写入 Redis 命令: " + redis_context_error(ctx_.get()));
      return {};
    }
  }
  std::vector<std::size_t> unknown_script;
  for (std::size_t k = 0; k < which.size(); ++k) {
    void* raw = nullptr;
    if (redisGetReply(ctx_.get(), &raw) != REDIS_OK) {
      lose(out, which.subspan(k), redis_context_error(ctx_.get()));
      return {};
    }
    const RedisReply reply(static_cast<redisReply*>(raw));
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
