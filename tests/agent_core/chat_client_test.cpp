// The chat-completions client against a local fake server: replies, retries, time-outs, errors and
// the secrecy of the API key.
#include "quorvel/agent/core/chat_client.h"
#include "quorvel/agent/core/http_transport.h"

#include <asio/detached.hpp>
#include <asio/steady_timer.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "agent_core/agent_test_helpers.h"
#include "support/fake_llm_server.h"
#include "support/test_support.h"
#include "support/virtual_retry_timer.h"

namespace quorvel::agent::core {
namespace {

using quorvel::testing::completion_body;
using quorvel::testing::fast_config;
using quorvel::testing::FakeLlmServer;
using quorvel::testing::LogCapture;
using quorvel::run_sync;
using quorvel::testing::ScriptedReply;
using quorvel::testing::TEST_KEY;
using ::testing::HasSubstr;
using ::testing::Not;

const std::vector<ChatMessage> HELLO = {{"system", "你是助手"}, {"user", "你好"}};

ChatReply call(const ProviderConfig& config) {
  ChatCompletionsClient client(config, ClientOptions{nullptr, [] { return 0.5; }});
  return run_sync(client.create(HELLO));
}

// The error text of a failing call (empty when the call succeeds).
LlmError call_error(const ProviderConfig& config) {
  try {
    call(config);
  } catch (const LlmError& e) {
    return e;
  }
  ADD_FAILURE() << "the call was expected to fail";
  return LlmError("", 0, false);
}

TEST(ChatClient, SendsOneRequestAndReturnsContentModelAndUsage) {
  FakeLlmServer server;
  server.enqueue({200,
                  completion_body("答案是 2", "",
                                  {{"prompt_tokens", 120}, {"completion_tokens", 8}, {"prompt_cache_hit_tokens", 96}}),
                  {}, false});
  LogCapture logs;
  const ChatReply reply = call(fast_config(server.base_url()));

  EXPECT_EQ(reply.content, "答案是 2");
  EXPECT_EQ(reply.reasoning_content, "");
  EXPECT_EQ(reply.model, "fake-model-0601");
  EXPECT_EQ(reply.usage.prompt_tokens, 120);
  EXPECT_EQ(reply.usage.completion_tokens, 8);
  EXPECT_EQ(reply.usage.cache_hit_tokens, 96);

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].path, "/v1/chat/completions");
  EXPECT_EQ(requests[0].authorization, std::string("Bearer ") + TEST_KEY);
  const auto body = nlohmann::json::parse(requests[0].body);
  EXPECT_EQ(body["model"], "fake-model");
  EXPECT_EQ(body["stream"], false);
  ASSERT_EQ(body["messages"].size(), 2u);
  EXPECT_EQ(body["messages"][0]["role"], "system");
  EXPECT_EQ(body["messages"][1]["content"], "你好");

  EXPECT_TRUE(logs.contains("provider=openai_compatible model=fake-model-0601"));
  EXPECT_TRUE(logs.contains("prompt_tokens=120 completion_tokens=8 cache_hit_tokens=96"));
  EXPECT_TRUE(logs.contains("latency="));
}

TEST(ChatClient, KeepsReasoningApartFromContent) {
  FakeLlmServer server;
  server.enqueue({200, completion_body("结论：看多", "先看均线，再看量能"), {}, false});
  const ChatReply reply = call(fast_config(server.base_url()));
  EXPECT_EQ(reply.content, "结论：看多");
  EXPECT_EQ(reply.reasoning_content, "先看均线，再看量能");
}

TEST(ChatClient, HonoursRetryAfterOn429ThenSucceeds) {
  FakeLlmServer server;
  server.enqueue({429, R"({"error":{"message":"Rate limit reached"}})", {{"Retry-After", "1"}}, false});
  server.enqueue({200, completion_body("ok"), {}, false});
  LogCapture logs;
  auto timer = std::make_shared<quorvel::testing::VirtualRetryTimer>();
  Service<RetryTimer>::Guard guard(timer);
  EXPECT_EQ(call(fast_config(server.base_url())).content, "ok");
  // The client waits out the Retry-After before its second attempt: at the provider's gate, which
  // the 429 paused for everyone, and by its own backoff, which Retry-After lengthened to a second.
  const auto waits = timer->waits();
  ASSERT_FALSE(waits.empty());
  EXPECT_EQ(waits.back(), std::chrono::milliseconds(1000));
  EXPECT_EQ(server.request_count(), 2u);
  EXPECT_TRUE(logs.contains("第 1 次请求失败，1.00 秒后重试"));
  EXPECT_TRUE(logs.contains("HTTP 429"));
}

TEST(ChatClient, Repeated503StopsAtTheAttemptBound) {
  FakeLlmServer server;
  for (int i = 0; i < 5; ++i) server.enqueue({503, R"({"error":{"message":"Server overloaded"}})", {}, false});
  const LlmError e = call_error(fast_config(server.base_url(), 3));
  EXPECT_EQ(server.request_count(), 3u);
  EXPECT_EQ(e.status(), 503);
  EXPECT_THAT(e.what(), HasSubstr("HTTP 503"));
  EXPECT_THAT(e.what(), HasSubstr("Server overloaded"));
  EXPECT_THAT(e.what(), HasSubstr("已尝试 3 次"));
}

TEST(ChatClient, RetryAfterBeyondTheBudgetEndsAtOnce) {
  FakeLlmServer server;
  server.enqueue({429, R"({"error":{"message":"slow down"}})", {{"Retry-After", "120"}}, false});
  auto config = fast_config(server.base_url(), 5);
  config.retry.total_budget = std::chrono::seconds(30);
  const LlmError e = call_error(config);
  EXPECT_EQ(server.request_count(), 1u);
  EXPECT_THAT(e.what(), HasSubstr("总时长上限"));
}

TEST(ChatClient, StalledResponseHitsTheTimeoutAndIsRetried) {
  FakeLlmServer server;
  server.enqueue({200, "", {}, true});
  server.enqueue({200, "", {}, true});
  auto config = fast_config(server.base_url(), 2);
  config.timeouts.total = std::chrono::milliseconds(300);
  const LlmError e = call_error(config);
  EXPECT_EQ(server.request_count(), 2u);
  EXPECT_EQ(e.status(), 0);
  EXPECT_THAT(e.what(), HasSubstr("请求超时"));
  EXPECT_THAT(e.what(), HasSubstr("LLM_TIMEOUT"));
}

TEST(ChatClient, DroppedConnectionsAreRetriedUpToTheBound) {
  quorvel::testing::DroppingServer server;
  const LlmError e = call_error(fast_config(server.base_url(), 3));
  EXPECT_EQ(server.connections(), 3);
  EXPECT_THAT(e.what(), HasSubstr("连接失败"));
}

TEST(ChatClient, EmptyBodyIsRetriedButMalformedBodyIsNot) {
  {
    FakeLlmServer server;
    server.enqueue({200, "  \n", {}, false});
    server.enqueue({200, completion_body("second try"), {}, false});
    EXPECT_EQ(call(fast_config(server.base_url())).content, "second try");
    EXPECT_EQ(server.request_count(), 2u);
  }
  {
    FakeLlmServer server;
    server.enqueue({200, "<html>gateway page</html>", {}, false});
    const LlmError e = call_error(fast_config(server.base_url()));
    EXPECT_EQ(server.request_count(), 1u);
    EXPECT_THAT(e.what(), HasSubstr("不是 JSON"));
    EXPECT_THAT(e.what(), HasSubstr("OPENAI_COMPATIBLE_BASE_URL"));
  }
}

TEST(ChatClient, ReplyWithoutChoicesIsAnErrorWithoutRetry) {
  FakeLlmServer server;
  server.enqueue({200, R"({"id":"x","object":"chat.completion","choices":[]})", {}, false});
  const LlmError e = call_error(fast_config(server.base_url()));
  EXPECT_EQ(server.request_count(), 1u);
  EXPECT_THAT(e.what(), HasSubstr("没有 choices"));
}

TEST(ChatClient, Unauthorized401IsNotRetriedAndNamesProviderStatusAndMessage) {
  FakeLlmServer server;
  // Some providers quote the presented key back in their message.
  server.enqueue({401,
                  std::string(R"({"error":{"message":"Incorrect API key provided: )") + TEST_KEY +
                      R"(","type":"invalid_request_error"}})",
                  {},
                  false});
  LogCapture logs;
  const LlmError e = call_error(fast_config(server.base_url()));
  EXPECT_EQ(server.request_count(), 1u);
  EXPECT_EQ(e.status(), 401);
  EXPECT_FALSE(e.retryable());
  EXPECT_THAT(e.what(), HasSubstr("openai_compatible"));
  EXPECT_THAT(e.what(), HasSubstr("HTTP 401"));
  EXPECT_THAT(e.what(), HasSubstr("Incorrect API key provided"));
  EXPECT_THAT(e.what(), HasSubstr("OPENAI_COMPATIBLE_API_KEY"));
  EXPECT_THAT(e.what(), Not(HasSubstr(TEST_KEY)));
  for (const auto& line : logs.lines()) EXPECT_THAT(line, Not(HasSubstr(TEST_KEY)));
}

TEST(ChatClient, KeyNeverAppearsInLogsOrErrorsOfAnyOutcome) {
  FakeLlmServer server;
  const std::string echo = std::string(R"({"error":{"message":"bad key )") + TEST_KEY + R"("}})";
  server.enqueue({429, echo, {}, false});
  server.enqueue({500, echo, {}, false});
  server.enqueue({200, std::string("not json ") + TEST_KEY, {}, false});
  server.enqueue({403, echo, {}, false});
  server.enqueue({200, std::string(R"({"error":{"message":")") + TEST_KEY + R"("}})", {}, false});
  server.enqueue({200, completion_body("fine"), {}, false});
  LogCapture logs;
  std::vector<std::string> errors;
  for (int i = 0; i < 4; ++i) {
    try {
      call(fast_config(server.base_url()));
    } catch (const std::exception& e) {
      errors.push_back(e.what());
    }
  }
  EXPECT_EQ(errors.size(), 3u);
  for (const auto& text : errors) EXPECT_THAT(text, Not(HasSubstr(TEST_KEY)));
  ASSERT_FALSE(logs.lines().empty());
  for (const auto& line : logs.lines()) EXPECT_THAT(line, Not(HasSubstr(TEST_KEY)));
}

TEST(ChatClient, TheEventLoopKeepsRunningWhileARequestWaits) {
  FakeLlmServer server;
  server.enqueue({200, "", {}, true});
  auto config = fast_config(server.base_url(), 1);
  config.timeouts.total = std::chrono::milliseconds(300);
  ChatCompletionsClient client(config);
  asio::io_context io;
  std::vector<std::string> order;
  asio::co_spawn(io, client.create(HELLO), [&](std::exception_ptr, ChatReply) { order.push_back("chat"); });
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        asio::steady_timer timer(io, std::chrono::milliseconds(1));
        co_await timer.async_wait(asio::use_awaitable);
        order.push_back("timer");
      },
      asio::detached);
  io.run();
  EXPECT_EQ(order, (std::vector<std::string>{"timer", "chat"}));
}

TEST(ChatClient, AReplyPastTheSizeCapIsRefusedWithoutRetry) {
  FakeLlmServer server;
  server.enqueue({200, completion_body(std::string(MAX_REPLY_BYTES, 'x')), {}, false});
  const LlmError e = call_error(fast_config(server.base_url()));
  EXPECT_THAT(e.what(), HasSubstr("字节的上限，已停止接收"));
  EXPECT_EQ(server.request_count(), 1u);
}

TEST(ChatClient, ClosedClientRefusesFurtherCalls) {
  FakeLlmServer server;
  ChatCompletionsClient client(fast_config(server.base_url()));
  run_sync(client.close());
  EXPECT_THROW(run_sync(client.create(HELLO)), RuntimeError);
  EXPECT_EQ(server.request_count(), 0u);
}

}  // namespace
}  // namespace quorvel::agent::core
