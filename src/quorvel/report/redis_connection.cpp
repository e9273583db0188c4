#include "quorvel/report/redis_connection.h"

#include <hiredis/hiredis.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

#include <fmt/format.h>

#include "contracts/errors.h"

namespace quorvel::report {

namespace {

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

int parse_int(std::string_view text, std::string_view what, std::string_view url, std::string_view setting, int lo,
              int hi) {
  int value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size() || value < lo || value > hi)
    throw ValueError(
        fmt::format("{} 的{}无效: '{}' (应为 {}，实际为 {})", setting, what, text, URL_FORM, masked(url)));
  return value;
}

timeval to_timeval(std::chrono::milliseconds ms) {
  ms = std::max(ms, std::chrono::milliseconds(1));
  return timeval{static_cast<time_t>(ms.count() / 1000), static_cast<suseconds_t>((ms.count() % 1000) * 1000)};
}

}  // namespace

RedisEndpoint RedisEndpoint::parse(std::string_view url, std::string_view setting) {
  constexpr std::string_view scheme = "redis://";
  if (url.substr(0, scheme.size()) != scheme)
    throw ValueError(fmt::format("{} 必须以 redis:// 开头 (应为 {}，实际为 {})", setting, URL_FORM, masked(url)));
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
    if (!db.empty()) ep.db = parse_int(db, "数据库编号", url, setting, 0, 1 << 20);
  }
  std::string_view port;
  if (!hostport.empty() && hostport.front() == '[') {
    const auto close = hostport.find(']');
    if (close == std::string_view::npos)
      throw ValueError(fmt::format("{} 的主机地址缺少 ']' (应为 {}，实际为 {})", setting, URL_FORM, masked(url)));
    ep.host = std::string(hostport.substr(1, close - 1));
    const std::string_view after = hostport.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':')
        throw ValueError(fmt::format("{} 格式无效 (应为 {}，实际为 {})", setting, URL_FORM, masked(url)));
      port = after.substr(1);
    }
  } else if (const auto colon = hostport.rfind(':'); colon != std::string_view::npos) {
    ep.host = std::string(hostport.substr(0, colon));
    port = hostport.substr(colon + 1);
  } else {
    ep.host = std::string(hostport);
  }
  if (ep.host.empty())
    throw ValueError(fmt::format("{} 缺少主机名 (应为 {}，实际为 {})", setting, URL_FORM, masked(url)));
  if (!port.empty()) ep.port = parse_int(port, "端口", url, setting, 1, 65535);
  return ep;
}

std::string RedisEndpoint::describe() const {
  const bool v6 = host.find(':') != std::string::npos;
  const std::string auth = password.empty() ? std::string() : (user.empty() ? "***@" : user + ":***@");
  return fmt::format("redis://{}{}{}{}:{}/{}", auth, v6 ? "[" : "", host, v6 ? "]" : "", port, db);
}

void RedisContextDeleter::operator()(redisContext* c) const { redisFree(c); }

void RedisReplyDeleter::operator()(redisReply* r) const { freeReplyObject(r); }

std::string redis_context_error(const redisContext* c) {
  if (!c) return "无法分配 Redis 连接";
  if (c->err == REDIS_ERR_IO && (errno == EAGAIN || errno == EWOULDBLOCK)) return "等待 Redis 应答超时";
  if (c->err == REDIS_ERR_EOF) return "Redis 关闭了连接";
  return c->errstr[0] ? std::string(c->errstr) : std::string("Redis 连接错误");
}

void set_redis_timeout(redisContext* c, std::chrono::milliseconds timeout) { redisSetTimeout(c, to_timeval(timeout)); }

RedisReply redis_command(redisContext* c, const std::vector<std::string_view>& args) {
  std::vector<const char*> argv;
  std::vector<size_t> lens;
  for (const auto& a : args) {
    argv.push_back(a.data());
    lens.push_back(a.size());
  }
  return RedisReply(static_cast<redisReply*>(redisCommandArgv(c, int(argv.size()), argv.data(), lens.data())));
}

OpenedRedis open_redis(const RedisEndpoint& endpoint, std::chrono::milliseconds connect_timeout,
                       std::chrono::milliseconds command_timeout) {
  RedisContext c(redisConnectWithTimeout(endpoint.host.c_str(), endpoint.port, to_timeval(connect_timeout)));
  if (!c || c->err) return {nullptr, fmt::format("无法连接 {}: {}", endpoint.describe(), redis_context_error(c.get()))};
  set_redis_timeout(c.get(), command_timeout);
  // Runs one set-up command; its error, empty on success.
  const auto setup = [&](const std::vector<std::string_view>& args) -> std::string {
    const RedisReply r = redis_command(c.get(), args);
    if (!r) return redis_context_error(c.get());
    if (r->type == REDIS_REPLY_ERROR) return std::string(r->str, r->len);
    return {};
  };
  std::string err;
  if (!endpoint.password.empty())
    err = endpoint.user.empty() ? setup({"AUTH", endpoint.password}) : setup({"AUTH", endpoint.user, endpoint.password});
  const std::string db = std::to_string(endpoint.db);
  if (err.empty() && endpoint.db != 0) err = setup({"SELECT", db});
  if (!err.empty()) return {nullptr, fmt::format("连接 {} 后初始化失败: {}", endpoint.describe(), err)};
  return {std::move(c), {}};
}

RedisClient::RedisClient(RedisEndpoint endpoint, RedisTimeouts timeouts)
    : endpoint_(std::move(endpoint)), timeouts_(timeouts) {}
RedisClient::~RedisClient() = default;
RedisClient::RedisClient(RedisClient&&) noexcept = default;
RedisClient& RedisClient::operator=(RedisClient&&) noexcept = default;

redisContext* RedisClient::connection(std::chrono::milliseconds command_timeout) {
  if (!ctx_) {
    OpenedRedis opened = open_redis(endpoint_, timeouts_.connect, command_timeout);
    if (!opened.context) throw RuntimeError(opened.error);
    ctx_ = std::move(opened.context);
  }
  set_redis_timeout(ctx_.get(), command_timeout);
  return ctx_.get();
}

RedisReply RedisClient::command(const std::vector<std::string_view>& args, std::chrono::milliseconds wait) {
  RedisReply r = redis_command(connection(timeouts_.command + wait), args);
  if (!r) {
    const std::string why = redis_context_error(ctx_.get());
    ctx_.reset();
    throw RuntimeError(fmt::format("与 {} 的连接中断: {}", describe(), why));
  }
  return r;
}

RedisReply RedisClient::run(const std::vector<std::string_view>& args, std::chrono::milliseconds wait) {
  RedisReply r = command(args, wait);
  if (r->type == REDIS_REPLY_ERROR)
    throw RuntimeError(fmt::format("{} 拒绝了 {}: {}", describe(), args.front(), std::string(r->str, r->len)));
  return r;
}

}  // namespace quorvel::report
