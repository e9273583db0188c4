#pragma once
// Publication to Redis Streams with hiredis: one XADD per message, pipelined per batch, on a
// blocking connection with connect and command timeouts. The connection is opened on first use and
// reopened after a failure.
//
// Thread-safety: none; one publisher belongs to one flush at a time.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "quorvel/report/publisher.h"

struct redisContext;

namespace quorvel::report {

// Parsed form of redis://[[user]:password@]host[:port][/db]. "[::1]" style hosts are accepted.
struct RedisEndpoint {
  std::string host;
  int port = 6379;
  int db = 0;
  std::string user;
  std::string password;

  // Throws ValueError with a message that shows the expected form.
  static RedisEndpoint parse(std::string_view url);
  // "redis://host:port/db" with any password masked.
  std::string describe() const;
};

struct RedisTimeouts {
  std::chrono::milliseconds connect{2000};
  std::chrono::milliseconds command{5000};
};

class RedisPublisher final : public MessagePublisher {
 public:
  explicit RedisPublisher(RedisEndpoint endpoint, RedisTimeouts timeouts = {});
  ~RedisPublisher() override;

  BatchOutcome publish(std::span<const OutgoingMessage> batch,
                       std::chrono::steady_clock::time_point deadline) override;
  std::string describe() const override { return endpoint_.describe(); }

 private:
  struct ContextDeleter {
    void operator()(redisContext* c) const;
  };
  // Empty on success, else why the connection could not be made ready.
  std::string connect(std::chrono::steady_clock::time_point deadline);
  void set_command_timeout(std::chrono::steady_clock::time_point deadline);

  RedisEndpoint endpoint_;
  RedisTimeouts timeouts_;
  std::unique_ptr<redisContext, ContextDeleter> ctx_;
};

}  // namespace quorvel::report
