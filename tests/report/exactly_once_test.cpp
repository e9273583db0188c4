// Each stored message becomes exactly one stream entry: overlapping flushers (threads, processes),
// resends after a lost reply or a crash at any message, and the broker's deduplication script.
// Runs against the redis-server this test program starts.
#include <algorithm>
#include <latch>
#include <thread>

#include <gtest/gtest.h>

#include "quorvel/report/delivery_script.h"
#include "quorvel/report/redis_publisher.h"
#include "support/redis_server.h"
#include "report/report_fixtures.h"

namespace quorvel::report {
namespace {

using namespace std::chrono_literals;
using quorvel::testing::outbox_lines;
using quorvel::testing::ScriptedPublisher;
using quorvel::testing::shared_redis;
using quorvel::testing::TempDir;

std::shared_ptr<RedisPublisher> redis_publisher() {
  return std::make_shared<RedisPublisher>(RedisEndpoint::parse(shared_redis().url()));
}

// Sends each message on its own to the test's redis-server and records what it was given.
std::unique_ptr<ScriptedPublisher> via_redis() {
  auto pub = std::make_unique<ScriptedPublisher>();
  pub->answer = [redis = redis_publisher()](const OutgoingMessage& m) {
    return redis->publish({&m, 1}, std::chrono::steady_clock::now() + 5s).messages.at(0);
  };
  return pub;
}

// A store on `dir` sending batches of `batch` to the broker, with `messages` summaries saved.
std::shared_ptr<SqlReportStore> store_on(const TempDir& dir, std::size_t batch, int messages = 0) {
  StoreOptions o;
  o.directory = dir.path();
  o.flush_batch = batch;
  o.write_files = false;
  auto store = std::make_shared<SqlReportStore>(o, redis_publisher());
  for (int i = 0; i < messages; ++i) store->save_summary_report(quorvel::testing::summary(std::to_string(i)));
  return store;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

std::vector<std::string> pending_ids(SqlReportStore& store) {
  std::vector<std::string> ids;
  for (const auto& m : store.pending_messages(1 << 20)) ids.push_back(m.id);
  return sorted(ids);
}

std::vector<std::string> stream_ids() { return sorted(shared_redis().stream_ids("quorvel:summary")); }

class ExactlyOnceTest : public ::testing::Test {
 protected:
  void SetUp() override { shared_redis().command({"FLUSHALL"}); }
  TempDir dir_;
};

TEST_F(ExactlyOnceTest, TheScriptAnswersAResendWithTheFirstEntry) {
  const struct {
    const char* name;
    std::vector<std::string> between;  // a command to the broker between the two sends
    bool new_connection;
    std::size_t entries;
  } rows[] = {{"same connection", {}, false, 1},
              {"script cache emptied", {"SCRIPT", "FLUSH"}, false, 1},
              {"new connection", {}, true, 1},
              {"after the window", {"DEL", delivered_key("m-1")}, false, 2}};
  const OutgoingMessage m{"m-1", "quorvel:summary", "summary", R"({"id":"m-1"})"};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    shared_redis().command({"FLUSHALL"});
    auto first = redis_publisher();
    const DeliveryOutcome a = first->publish({&m, 1}, std::chrono::steady_clock::now() + 5s).messages.at(0);
    ASSERT_TRUE(a.delivered) << a.error;
    const long ttl = std::stol(shared_redis().command({"TTL", delivered_key(m.id)}).at(0));
    EXPECT_TRUE(ttl > DELIVERED_ID_TTL.count() - 60 && ttl <= DELIVERED_ID_TTL.count()) << ttl;
    if (!row.between.empty()) shared_redis().command(row.between);
    auto again = row.new_connection ? redis_publisher() : first;
    const DeliveryOutcome b = again->publish({&m, 1}, std::chrono::steady_clock::now() + 5s).messages.at(0);
    ASSERT_TRUE(b.delivered) << b.error;
    EXPECT_EQ(shared_redis().stream_ids("quorvel:summary").size(), row.entries);
    EXPECT_EQ(b.duplicate && b.entry_id == a.entry_id, row.entries == 1);
  }
}

TEST_F(ExactlyOnceTest, FlushersInThreadsWithTheirOwnStoresSendEachMessageOnce) {
  constexpr int FLUSHERS = 4;
  const std::vector<std::string> all = pending_ids(*store_on(dir_, 8, 600));
  std::vector<std::unique_ptr<ScriptedPublisher>> publishers;
  for (int i = 0; i < FLUSHERS; ++i) publishers.push_back(via_redis());
  std::latch start(FLUSHERS);
  std::vector<std::thread> threads;
  for (auto& pub : publishers) {
    threads.emplace_back([&, store = store_on(dir_, 8)] {
      start.arrive_and_wait();
      store->flush_with(*pub);
    });
  }
  for (auto& t : threads) t.join();
  std::vector<std::string> sent;
  for (const auto& p : publishers)
    for (const auto& m : p->sent) sent.push_back(m.id);
  EXPECT_EQ(sorted(sent), all);  // the claims kept the flushers apart
  EXPECT_EQ(stream_ids(), all);
}

TEST_F(ExactlyOnceTest, ConcurrentFlushCommandsDeliverEachMessageOnce) {
  const std::vector<std::string> all = pending_ids(*store_on(dir_, 256, 1000));
  const std::string flush = "REPORT_DIR='" + dir_.path().string() + "' QUORVEL_MQ_URL='" + shared_redis().url() +
                            "' '" + QUORVEL_REPORTS_BIN + "' flush >/dev/null 2>&1";
  // The broker holds back writes until all three commands have connected, each with the batch it
  // took in hand, so that they are surely at work at the same time.
  shared_redis().command({"CLIENT", "PAUSE", "30000", "WRITE"});
  int status = -1;
  std::thread commands(
      [&] { status = std::system(("(" + flush + " & " + flush + " & " + flush + " & wait)").c_str()); });
  const auto clients = [] {
    const std::string list = shared_redis().command({"CLIENT", "LIST"}).at(0);
    return std::count(list.begin(), list.end(), '\n');  // one line each, the asking client included
  };
  for (int i = 0; i < 1000 && clients() < 4; ++i) std::this_thread::sleep_for(10ms);
  shared_redis().command({"CLIENT", "UNPAUSE"});
  commands.join();
  ASSERT_EQ(status, 0);
  EXPECT_EQ(stream_ids(), all);
  for (const std::string& line : outbox_lines(dir_.path()))  // delivered, by one attempt
    ASSERT_TRUE(line.substr(36, 3) == "|1|" && line.ends_with("|1|")) << line;
}

TEST_F(ExactlyOnceTest, AFlushFailingAtAnyMessageNeitherLosesNorDoublesOne) {
  // At message n the broker refuses it, or takes it but its reply is lost, or the flusher dies
  // right after sending it; a later flush (after the lease, for the dead one) delivers the rest.
  enum Fault { refused, reply_lost, crash };
  struct Crash {};
  constexpr int MESSAGES = 10;
  auto clock = std::make_shared<quorvel::testing::ManualClock>();
  Service<Clock>::Guard pin(clock);
  for (const Fault fault : {refused, reply_lost, crash}) {
    for (std::size_t n = 0; n < MESSAGES; ++n) {
      SCOPED_TRACE(::testing::Message() << "fault " << fault << " at message " << n);
      shared_redis().command({"FLUSHALL"});
      TempDir dir;
      auto store = store_on(dir, 4, MESSAGES);
      const std::vector<std::string> all = pending_ids(*store);
      auto faulty = via_redis();
      faulty->answer = [&, send = faulty->answer](const OutgoingMessage& m) {
        if (faulty->sent.size() != n + 1) return send(m);
        if (fault == refused) return DeliveryOutcome{false, "", "refused"};
        send(m);
        if (fault == crash) throw Crash{};
        return DeliveryOutcome{false, "", "reply lost"};
      };
      try {
        store->flush_with(*faulty);
      } catch (const Crash&) {
        store = store_on(dir, 4);  // the restarted process
      }
      const std::vector<std::string> seen = stream_ids();
      EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end()) << "a message was doubled";
      std::vector<std::string> accounted;
      const std::vector<std::string> pending = pending_ids(*store);
      std::set_union(seen.begin(), seen.end(), pending.begin(), pending.end(), std::back_inserter(accounted));
      EXPECT_EQ(accounted, all) << "a message was lost";

      clock->advance(DEFAULT_OUTBOX_LEASE);
      EXPECT_TRUE(store->flush().ok());
      EXPECT_EQ(stream_ids(), all);
    }
  }
}

}  // namespace
}  // namespace quorvel::report
