#pragma once
// Publication to Redis Streams with hiredis: one run of the delivery script per message
// (delivery_script.h), pipelined per batch, on a blocking connection with connect and command
// timeouts. The script goes by its digest (EVALSHA, loaded when the connection opens); messages the
// broker answers NOSCRIPT for (its script cache was emptied) go again with the script's text (EVAL).
// A resend of a message the broker already holds adds nothing and reports the first entry. The
// connection is opened on first use and reopened after a failure.
//
// Thread-safety: none; one publisher belongs to one flush at a time.
#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "quorvel/report/publisher.h"
#include "quorvel/report/redis_connection.h"

namespace quorvel::report {

class RedisPublisher final : public MessagePublisher {
 public:
  explicit RedisPublisher(RedisEndpoint endpoint, RedisTimeouts timeouts = {});
  ~RedisPublisher() override;

  BatchOutcome publish(std::span<const OutgoingMessage> batch,
                       std::chrono::steady_clock::time_point deadline) override;
  std::string describe() const override { return endpoint_.describe(); }

 private:
  BatchOutcome publish_batch(std::span<const OutgoingMessage> batch, std::chrono::steady_clock::time_point deadline);
  // Empty on success, else why the connection could not be made ready.
  std::string connect(std::chrono::steady_clock::time_point deadline);
  void set_command_timeout(std::chrono::steady_clock::time_point deadline);
  bool append(const OutgoingMessage& message, bool by_digest);
  // Sends the messages at positions `which` in one pipeline and reads their outcomes into `out`;
  // returns the positions the broker answered NOSCRIPT for.
  std::vector<std::size_t> round(std::span<const OutgoingMessage> batch, std::span<const std::size_t> which,
                                 bool by_digest, BatchOutcome& out);
  // The messages at `which` are of unknown fate: marks them not delivered and drops the connection.
  void lose(BatchOutcome& out, std::span<const std::size_t> which, const std::string& why);

  RedisEndpoint endpoint_;
  RedisTimeouts timeouts_;
  RedisContext ctx_;
  std::string script_digest_;  // SHA-1 of the delivery script, as the broker reported it
};

}  // namespace quorvel::report
