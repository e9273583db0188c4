// One private redis-server for the whole run of a test program that links this file.
#include <gtest/gtest.h>

#include "support/redis_server.h"

namespace quorvel::testing {

namespace {

RedisServer* g_shared = nullptr;

class RedisEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { server_ = std::make_unique<RedisServer>(); g_shared = server_.get(); }
  void TearDown() override { g_shared = nullptr; server_.reset(); }

 private:
  std::unique_ptr<RedisServer> server_;
};

}  // namespace

RedisServer& shared_redis() {
  if (!g_shared) throw std::runtime_error("the shared redis-server is not running");
  return *g_shared;
}

// Every program that links this file gets one server for its whole run.
[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new RedisEnvironment);

}  // namespace quorvel::testing
