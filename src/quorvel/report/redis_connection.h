#pragma once
// What the queue's publisher and its readers share of a Redis connection: the endpoint parsed from
// its URL, the time-outs, and a blocking hiredis connection that is opened, logged in and pointed at
// the endpoint's database in one step.
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct redisContext;
struct redisReply;

namespace quorvel::report {

// Parsed form of redis://[[user]:password@]host[:port][/db]. "[::1]" style hosts are accepted.
struct RedisEndpoint {
  std::string host;
  int port = 6379;
  int db = 0;
  std::string user;
  std::string password;

  // Throws ValueError with a message that names `setting` (where the URL came from: a variable or
  // an option) and shows the expected form.
  static RedisEndpoint parse(std::string_view url, std::string_view setting = "QUORVEL_MQ_URL");
  // "redis://host:port/db" with any password masked.
  std::string describe() const;
};

struct RedisTimeouts {
  std::chrono::milliseconds connect{2000};
  std::chrono::milliseconds command{5000};
};

struct RedisContextDeleter {
  void operator()(redisContext* c) const;
};
using RedisContext = std::unique_ptr<redisContext, RedisContextDeleter>;

struct RedisReplyDeleter {
  void operator()(redisReply* r) const;
};
using RedisReply = std::unique_ptr<redisReply, RedisReplyDeleter>;

// Why the connection failed, in words for the operator ("等待 Redis 应答超时", ...).
std::string redis_context_error(const redisContext* c);

// Replies of every later command wait at most `timeout` (at least 1 ms).
void set_redis_timeout(redisContext* c, std::chrono::milliseconds timeout);

struct OpenedRedis {
  RedisContext context;  // null when the connection could not be made ready
  std::string error;     // why not, naming the endpoint (no password)
};

// Connects within `connect_timeout`, sets the command time-out, logs in when the endpoint has a
// password and selects its database.
OpenedRedis open_redis(const RedisEndpoint& endpoint, std::chrono::milliseconds connect_timeout,
                       std::chrono::milliseconds command_timeout);

// Runs one command; null when the connection failed (redis_context_error says why). An error reply
// is a reply of type REDIS_REPLY_ERROR.
RedisReply redis_command(redisContext* c, const std::vector<std::string_view>& args);

// A blocking connection for commands one at a time: opened on first use and again on the call after
// a failure (a broker restarted, a time-out), so that a long-running reader or writer outlives the
// broker's troubles. Thread-safety: none.
class RedisClient {
 public:
  explicit RedisClient(RedisEndpoint endpoint, RedisTimeouts timeouts = {});
  ~RedisClient();
  RedisClient(RedisClient&&) noexcept;
  RedisClient& operator=(RedisClient&&) noexcept;

  // Runs one command and waits for its reply up to the command time-out plus `wait` (what a blocking
  // read waits itself). A connection that cannot be made or is lost is a RuntimeError naming the
  // endpoint (the connection is dropped); an error reply is returned as it is.
  RedisReply command(const std::vector<std::string_view>& args, std::chrono::milliseconds wait = {});
  // The same, with an error reply a RuntimeError too.
  RedisReply run(const std::vector<std::string_view>& args, std::chrono::milliseconds wait = {});

  const RedisEndpoint& endpoint() const { return endpoint_; }
  std::string describe() const { return endpoint_.describe(); }

 private:
  redisContext* connection(std::chrono::milliseconds command_timeout);

  RedisEndpoint endpoint_;
  RedisTimeouts timeouts_;
  RedisContext ctx_;
};

}  // namespace quorvel::report
