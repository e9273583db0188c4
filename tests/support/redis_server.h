#pragma once
// A private redis-server for the tests: started on a free 127.0.0.1 port without persistence,
// stopped (SIGTERM, then SIGKILL) when the object goes away. Tests that need to take the broker
// away mid-flight call stop() and start() again on the same port.
#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

struct redisContext;

namespace quorvel::testing {

class RedisServer {
 public:
  RedisServer();  // picks a free port and starts the server; throws when it does not come up
  ~RedisServer();
  RedisServer(const RedisServer&) = delete;
  RedisServer& operator=(const RedisServer&) = delete;

  void start();
  void stop();     // abrupt: SIGKILL, as when the broker host dies
  bool running() const { return pid_ > 0; }
  int port() const { return port_; }
  std::string url(int db = 0) const;

  // A short-lived client for checks: runs one command and returns the reply's strings.
  std::vector<std::string> command(const std::vector<std::string>& args) const;
  // Every "id" field of the stream's entries, in stream order.
  std::vector<std::string> stream_ids(const std::string& stream) const;
  // The "payload" field of every entry.
  std::vector<std::string> stream_payloads(const std::string& stream) const;
  // Entry id -> the entry's "id" field, for every entry of the stream.
  std::map<std::string, std::string> stream_entries(const std::string& stream) const;

 private:
  int port_ = 0;
  pid_t pid_ = -1;
};

// Shared server of a test program that links redis_environment.cpp.
RedisServer& shared_redis();

}  // namespace quorvel::testing
