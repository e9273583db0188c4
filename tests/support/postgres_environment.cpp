// One private PostgreSQL server for the whole run of a test program that links this file.
#include <gtest/gtest.h>

#include "support/postgres_server.h"

namespace quorvel::testing {

namespace {

PostgresServer* g_shared = nullptr;

class PostgresEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    server_ = std::make_unique<PostgresServer>();
    g_shared = server_.get();
  }
  void TearDown() override {
    g_shared = nullptr;
    server_.reset();
  }

 private:
  std::unique_ptr<PostgresServer> server_;
};

}  // namespace

PostgresServer& shared_postgres() {
  if (!g_shared) throw std::runtime_error("the shared postgres server is not running");
  return *g_shared;
}

// Every program that links this file gets one server for its whole run.
[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new PostgresEnvironment);

}  // namespace quorvel::testing
