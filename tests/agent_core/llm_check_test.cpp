#include "quorvel/agent/core/llm_check.h"

#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "agent_core/agent_test_helpers.h"
#include "support/fake_llm_server.h"

namespace quorvel::agent::core {
namespace {

using quorvel::testing::completion_body;
using quorvel::testing::env_of;
using quorvel::testing::fake_provider_env;
using quorvel::testing::FakeLlmServer;
using quorvel::testing::TEST_KEY;
using ::testing::HasSubstr;
using ::testing::Not;

struct CheckRun {
  int status;
  std::string out, err;
};

CheckRun check(std::map<std::string, std::string> env) {
  LlmCheckOptions options;
  options.layer.env = env_of(std::move(env));
  options.layer.client.jitter = [] { return 0.0; };
  std::ostringstream out, err;
  const int status = run_llm_check(options, out, err);
  return {status, out.str(), err.str()};
}

TEST(LlmCheck, PrintsProviderModelLatencyAndTokenUsage) {
  FakeLlmServer server;
  server.enqueue({200, completion_body("2", "", {{"prompt_tokens", 21}, {"completion_tokens", 1},
                                                 {"prompt_tokens_details", {{"cached_tokens", 0}}}}),
                  {}, false});
  const CheckRun run = check(fake_provider_env(server.base_url()));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("provider: openai_compatible\n"));
  EXPECT_THAT(run.out, HasSubstr("model: fake-model\n"));
  EXPECT_THAT(run.out, HasSubstr("latency_s: "));
  EXPECT_THAT(run.out, HasSubstr("prompt_tokens: 21\n"));
  EXPECT_THAT(run.out, HasSubstr("completion_tokens: 1\n"));
  EXPECT_THAT(run.out, HasSubstr("cache_hit_tokens: 0\n"));
  EXPECT_THAT(run.out, HasSubstr("reply: 2\n"));
  EXPECT_THAT(run.out + run.err, Not(HasSubstr(TEST_KEY)));
}

TEST(LlmCheck, AHangingServerHoldsTheCheckOnlyForItsTimeout) {
  FakeLlmServer server;
  server.enqueue({200, "", {}, true});
  LlmCheckOptions options;
  options.layer.env = env_of(fake_provider_env(server.base_url()));  // LLM_TIMEOUT=5 there
  options.timeout_seconds = 1;
  std::ostringstream out, err;
  EXPECT_EQ(run_llm_check(options, out, err), 1);
  EXPECT_THAT(err.str(), HasSubstr("超时"));
  EXPECT_EQ(server.request_count(), 1u);  // the one-second budget leaves no room for a retry
}

TEST(LlmCheck, FailuresEndWithStatusOneAndAReasonWithoutTheKey) {
  const CheckRun missing = check({{"LLM_CLIENT_TYPE", "moonshot"}});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, HasSubstr("MOONSHOT_API_KEY"));

  FakeLlmServer server;
  server.enqueue({401, std::string(R"({"error":{"message":"invalid key )") + TEST_KEY + R"("}})", {}, false});
  const CheckRun rejected = check(fake_provider_env(server.base_url()));
  EXPECT_EQ(rejected.status, 1);
  EXPECT_THAT(rejected.err, HasSubstr("HTTP 401"));
  EXPECT_THAT(rejected.out + rejected.err, Not(HasSubstr(TEST_KEY)));
}

}  // namespace
}  // namespace quorvel::agent::core
