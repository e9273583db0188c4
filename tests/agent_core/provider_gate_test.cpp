// The provider gate on its own and under the chat client against the fake server: requests in
// flight per provider, pauses after 429 / Retry-After that hold back every client of the provider;
// and the usage ledger.
#include "quorvel/agent/core/provider_gate.h"

#include <algorithm>
#include <chrono>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <gtest/gtest.h>

#include "agent_core/agent_test_helpers.h"
#include "quorvel/agent/core/chat_client.h"
#include "quorvel/agent/core/usage_ledger.h"
#include "support/fake_llm_server.h"
#include "support/virtual_retry_timer.h"

namespace quorvel::agent::core {
namespace {

using quorvel::testing::completion_body;
using quorvel::testing::fast_config;
using quorvel::testing::FakeLlmServer;
using quorvel::run_sync;
using quorvel::testing::ScriptedModelClient;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const std::vector<ChatMessage> HELLO = {{"system", "你是助手"}, {"user", "你好"}};

double ms_between(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// `count` holders enter the gate at once and keep their permit for `hold`; returns the order in
// which they were admitted and the highest number admitted at one time.
std::pair<std::vector<int>, int> crowd(ProviderGate& gate, int count, milliseconds hold) {
  asio::io_context io;
  std::vector<int> order;
  int inside = 0, most = 0;
  for (int i = 0; i < count; ++i) {
    asio::co_spawn(
        io,
        [&, i]() -> asio::awaitable<void> {
          auto enter = gate.enter();
          ProviderGate::Permit permit = co_await std::move(enter);
          order.push_back(i);
          most = std::max(most, ++inside);
          asio::steady_timer timer(io, hold);
          co_await timer.async_wait(asio::use_awaitable);
          --inside;
        },
        [](std::exception_ptr e) {
          if (e) std::rethrow_exception(e);
        });
  }
  io.run();
  return {order, most};
}

TEST(ProviderGate, AdmitsAtMostItsLimitInArrivalOrder) {
  const struct {
    int limit, holders, expected_most;
  } rows[] = {{1, 4, 1}, {2, 5, 2}, {8, 3, 3}, {0, 2, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.limit);
    ProviderGate gate(row.limit);
    const auto [order, most] = crowd(gate, row.holders, milliseconds(5));
    EXPECT_EQ(most, row.expected_most);
    std::vector<int> arrival(std::size_t(row.holders));
    for (int i = 0; i < row.holders; ++i) arrival[std::size_t(i)] = i;
    EXPECT_EQ(order, arrival);
    EXPECT_EQ(gate.in_flight(), 0);
    EXPECT_EQ(gate.waiting(), 0u);
  }
}

TEST(ProviderGate, APauseHoldsBackEveryoneAndALongerOneWins) {
  ProviderGate gate(4);
  const auto start = Clock::now();
  gate.pause_for(milliseconds(150));
  gate.pause_for(milliseconds(20));  // shorter: the longer pause stays
  EXPECT_GT(gate.pause_left(), milliseconds(100));
  crowd(gate, 3, milliseconds(0));
  EXPECT_GE(ms_between(start, Clock::now()), 150.0);
  EXPECT_EQ(gate.pause_left(), milliseconds(0));
}

TEST(ProviderGate, ClientsOfOneProviderShareTheLimitOfRequestsInFlight) {
  FakeLlmServer server;
  server.respond_with([](const quorvel::testing::RecordedRequest&) {
    return quorvel::testing::ScriptedReply{200, completion_body("好"), {}, false, milliseconds(80)};
  });
  auto config = fast_config(server.base_url());
  config.max_in_flight = 2;
  asio::io_context io;
  std::vector<std::unique_ptr<ChatCompletionsClient>> clients;
  int answered = 0;
  for (int i = 0; i < 6; ++i) {
    clients.push_back(std::make_unique<ChatCompletionsClient>(config));
    asio::co_spawn(io, clients.back()->create(HELLO), [&](std::exception_ptr e, ChatReply) { answered += !e; });
  }
  io.run();
  EXPECT_EQ(answered, 6);
  EXPECT_EQ(server.max_concurrent(), 2);
}

TEST(ProviderGate, ARetryAfterFromTheProviderPausesItsOtherClients) {
  FakeLlmServer server;
  server.enqueue({429, R"({"error":{"message":"rate limited"}})", {{"Retry-After", "1"}}, false});
  server.enqueue({200, completion_body("好"), {}, false});
  const auto config = fast_config(server.base_url(), 1);  // the first client gives up at once
  auto timer = std::make_shared<quorvel::testing::VirtualRetryTimer>();
  Service<RetryTimer>::Guard guard(timer);
  ChatCompletionsClient first(config), second(config);
  EXPECT_THROW(run_sync(first.create(HELLO)), LlmError);
  EXPECT_GT(provider_gate(config).pause_left(), milliseconds(900));
  EXPECT_TRUE(timer->waits().empty());
  EXPECT_EQ(run_sync(second.create(HELLO)).content, "好");
  // The second client, which never met the 429, sat out the rest of the provider's pause first.
  ASSERT_EQ(timer->waits().size(), 1u);
  EXPECT_GT(timer->waits()[0], milliseconds(900));
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST(UsageLedger, AddsWhatTheProviderReportedAndCountsFailures) {
  auto scripted = std::make_shared<ScriptedModelClient>(std::vector<std::string>{"一", "二"});
  UsageLedger ledger;
  MeteredModelClient client(scripted, ledger);
  run_sync(client.create(HELLO));
  run_sync(client.create(HELLO));
  EXPECT_THROW(run_sync(client.create(HELLO)), std::out_of_range);  // the script has two answers
  const struct {
    ChatUsage usage;
  } rows[] = {{{120, 8, 96}}, {{50, -1, -1}}, {{-1, -1, -1}}};
  for (const auto& row : rows) ledger.record(row.usage);
  const UsageTotals t = ledger.totals();
  EXPECT_EQ(t.calls, 5);  // two answers of the client, three recorded by hand
  EXPECT_EQ(t.failed_calls, 1);
  EXPECT_EQ(t.prompt_tokens, 170);
  EXPECT_EQ(t.completion_tokens, 8);
  EXPECT_EQ(t.cache_hit_tokens, 96);
  EXPECT_EQ(t.usage_reported, 2);
  EXPECT_EQ(t.cache_reported, 1);
  const UsageTotals later = ledger.totals();
  ledger.record({10, 2, 0});
  const UsageTotals delta = ledger.totals().since(later);
  EXPECT_EQ(delta.calls, 1);
  EXPECT_EQ(delta.prompt_tokens, 10);
  EXPECT_EQ(delta.cache_reported, 1);
}

}  // namespace
}  // namespace quorvel::agent::core
