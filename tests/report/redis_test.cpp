// Delivery to a real redis-server started by this test program on a free 127.0.0.1 port.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <set>

#include "quorvel/report/default_store.h"
#include "quorvel/report/redis_publisher.h"
#include "quorvel/utils/sqlite_db.h"
#include "support/redis_server.h"
#include "report/report_fixtures.h"

namespace quorvel::report {
namespace {

using Json = nlohmann::ordered_json;
using quorvel::testing::analysis;
using quorvel::testing::brief;
using quorvel::testing::RedisServer;
using quorvel::testing::ScopedEnv;
using quorvel::testing::shared_redis;
using quorvel::testing::summary;
using quorvel::testing::TempDir;

std::shared_ptr<RedisPublisher> publisher_for(const RedisServer& server, RedisTimeouts t = {}) {
  return std::make_shared<RedisPublisher>(RedisEndpoint::parse(server.url()), t);
}

class RedisDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override { shared_redis().command({"FLUSHALL"}); }
  TempDir dir_;
};

TEST_F(RedisDeliveryTest, FlushDeliversEachMessageToItsStreamOnce) {
  auto store = quorvel::testing::open_store(dir_.path(), publisher_for(shared_redis()));
  store->save_analysis_report(analysis());
  store->save_summary_report(summary());
  store->save_solvara(brief());
  const auto ids = store->pending_messages(10);
  const FlushResult r = store->flush();
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.delivered, 3u);
  EXPECT_EQ(r.pending, 0u);
  EXPECT_EQ(shared_redis().stream_ids("quorvel:analysis"), std::vector<std::string>{ids[0].id});
  EXPECT_EQ(shared_redis().stream_ids("quorvel:summary"), std::vector<std::string>{ids[1].id});
  EXPECT_EQ(shared_redis().stream_ids("quorvel:solvara"), std::vector<std::string>{ids[2].id});
  // A second flush has nothing to send: no duplicates.
  EXPECT_EQ(store->flush().delivered, 0u);
  EXPECT_EQ(shared_redis().stream_ids("quorvel:analysis").size(), 1u);
}

TEST_F(RedisDeliveryTest, PayloadReachesTheBrokerVerbatim) {
  auto store = quorvel::testing::open_store(dir_.path(), publisher_for(shared_redis()));
  AnalysisReport r = analysis("us.BRK-B");
  r.stock_name = "伯克希尔 \"B\" 'cls'\n🚀";
  r.content = "第一行\n第二行 \\ \t ' \" } { 结束";
  store->save_analysis_report(r);
  ASSERT_TRUE(store->flush().ok());
  const auto payloads = shared_redis().stream_payloads("quorvel:analysis");
  ASSERT_EQ(payloads.size(), 1u);
  const Json m = Json::parse(payloads[0]);
  EXPECT_EQ(m["stock_name"], r.stock_name);
  EXPECT_EQ(m["content"], r.content);
  EXPECT_EQ(m["type"], "analysis");
  EXPECT_TRUE(m.contains("decision"));
}

TEST_F(RedisDeliveryTest, ManyMessagesGoOutInBatches) {
  StoreOptions o;
  o.directory = dir_.path();
  o.flush_batch = 7;
  o.write_files = false;
  SqlReportStore store(o, publisher_for(shared_redis()));
  for (int i = 0; i < 100; ++i) store.save_summary_report(summary("sh." + std::to_string(600000 + i)));
  const FlushResult r = store.flush();
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.delivered, 100u);
  const auto ids = shared_redis().stream_ids("quorvel:summary");
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 100u);
}

TEST_F(RedisDeliveryTest, ABrokerRefusingOneStreamDelaysOnlyThoseMessages) {
  shared_redis().command({"SET", "quorvel:summary", "not a stream"});
  auto store = quorvel::testing::open_store(dir_.path(), publisher_for(shared_redis()));
  store->save_analysis_report(analysis());
  store->save_summary_report(summary());
  FlushResult r = store->flush();
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error.find("WRONGTYPE"), std::string::npos) << r.error;
  EXPECT_EQ(r.delivered, 1u);
  const auto pending = store->pending_messages(10);
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].kind, ReportKind::summary);
  EXPECT_EQ(pending[0].attempts, 1);

  shared_redis().command({"DEL", "quorvel:summary"});
  r = store->flush();
  EXPECT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(shared_redis().stream_ids("quorvel:summary"), std::vector<std::string>{pending[0].id});
}

TEST_F(RedisDeliveryTest, DatabaseNumberOfTheUrlIsUsed) {
  auto store = quorvel::testing::open_store(
      dir_.path(), std::make_shared<RedisPublisher>(RedisEndpoint::parse(shared_redis().url(4))));
  store->save_solvara(brief());
  ASSERT_TRUE(store->flush().ok());
  EXPECT_TRUE(shared_redis().stream_ids("quorvel:solvara").empty());  // db 0 stays empty
  EXPECT_EQ(shared_redis().command({"DBSIZE"}), std::vector<std::string>{"0"});
}

TEST(RedisFaults, BrokerDownKeepsMessagesPendingUntilItIsBack) {
  TempDir dir;
  RedisServer server;
  server.stop();
  auto store = quorvel::testing::open_store(dir.path(), publisher_for(server));
  store->save_analysis_report(analysis());
  FlushResult r = store->flush();
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error.find("无法连接"), std::string::npos) << r.error;
  EXPECT_EQ(r.pending, 1u);
  const auto pending = store->pending_messages(10);
  EXPECT_EQ(pending.at(0).attempts, 1);
  EXPECT_TRUE(pending.at(0).last_error.has_value());

  server.start();
  r = store->flush();
  EXPECT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(server.stream_ids("quorvel:analysis"), std::vector<std::string>{pending[0].id});
}

// Stops the broker after the first batch went out, in the middle of a flush.
class StopAfterFirstBatch : public MessagePublisher {
 public:
  StopAfterFirstBatch(RedisServer& server, std::shared_ptr<MessagePublisher> inner)
      : server_(server), inner_(std::move(inner)) {}
  BatchOutcome publish(std::span<const OutgoingMessage> batch, std::chrono::steady_clock::time_point d) override {
    if (batches_++ == 1) {
      delivered_before_stop = server_.stream_ids("quorvel:summary");
      server_.stop();
    }
    return inner_->publish(batch, d);
  }
  std::string describe() const override { return inner_->describe(); }
  std::vector<std::string> delivered_before_stop;

 private:
  RedisServer& server_;
  std::shared_ptr<MessagePublisher> inner_;
  int batches_ = 0;
};

TEST(RedisFaults, BrokerStoppedDuringAFlushLosesNothingAndKeepsIds) {
  TempDir dir;
  RedisServer server;
  StoreOptions o;
  o.directory = dir.path();
  o.flush_batch = 10;
  o.write_files = false;
  auto real = publisher_for(server, {std::chrono::milliseconds(500), std::chrono::milliseconds(1000)});
  SqlReportStore store(o, real);
  for (int i = 0; i < 45; ++i) store.save_summary_report(summary("sh." + std::to_string(600000 + i)));
  std::vector<std::string> all;
  for (const auto& m : store.pending_messages(1000)) all.push_back(m.id);

  StopAfterFirstBatch stopping(server, real);
  FlushResult r = store.flush_with(stopping);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.delivered, 10u);
  EXPECT_EQ(r.pending, 35u);
  EXPECT_EQ(stopping.delivered_before_stop.size(), 10u);

  server.start();  // comes back empty: nothing was persisted
  r = store.flush();
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.pending, 0u);
  // Every message reached the broker at least once, always under its own id.
  std::map<std::string, int> seen;
  for (const auto& id : stopping.delivered_before_stop) ++seen[id];
  for (const auto& id : server.stream_ids("quorvel:summary")) ++seen[id];
  EXPECT_EQ(seen.size(), all.size());
  for (const auto& id : all) EXPECT_GE(seen[id], 1) << id;
}

TEST(RedisFaults, AnUnansweringBrokerCannotHoldAFlushBeyondItsBudget) {
  // A socket that listens but never answers: connect succeeds through the backlog, XADD gets no reply.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(::listen(fd, 16), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const std::string url = "redis://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

  TempDir dir;
  StoreOptions o;
  o.directory = dir.path();
  o.flush_budget = std::chrono::milliseconds(800);
  SqlReportStore store(o, std::make_shared<RedisPublisher>(
                                 RedisEndpoint::parse(url),
                                 RedisTimeouts{std::chrono::milliseconds(500), std::chrono::milliseconds(30000)}));
  store.save_solvara(brief());
  const auto start = std::chrono::steady_clock::now();
  const FlushResult r = store.flush();
  const auto took = std::chrono::steady_clock::now() - start;
  ::close(fd);
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error.find("超时"), std::string::npos) << r.error;
  EXPECT_EQ(r.pending, 1u);
  // The command timeout is 30 s; only the flush budget can have ended the wait this early.
  EXPECT_LT(took, std::chrono::seconds(10));
}

TEST(DefaultStoreWithBroker, CommandsPublishThroughTheInstalledStore) {
  TempDir dir;
  shared_redis().command({"FLUSHALL"});
  ScopedEnv report_dir("REPORT_DIR", dir.path().string());
  ScopedEnv mq("QUORVEL_MQ_URL", shared_redis().url());
  install_default_report_store();
  default_storage().save_analysis_with_summary(analysis(), quorvel::testing::summary());
  EXPECT_TRUE(default_storage().exists("sh.600000", "2025-06-30", "deepseek"));
  const FlushResult r = default_storage().flush();
  EXPECT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(shared_redis().stream_ids("quorvel:analysis").size(), 1u);
  EXPECT_EQ(shared_redis().stream_ids("quorvel:summary").size(), 1u);
  Service<ReportStore>::install(nullptr);
}

int run_tool(const std::string& args, const std::filesystem::path& dir, const std::string& url) {
  const std::string cmd = "REPORT_DIR='" + dir.string() + "' QUORVEL_MQ_URL='" + url + "' '" + QUORVEL_REPORTS_BIN +
                          "' " + args + " >/dev/null 2>&1";
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ReportsTool, FlushExitStatusTellsWhetherDeliveryWorked) {
  TempDir dir;
  shared_redis().command({"FLUSHALL"});
  quorvel::testing::open_store(dir.path())->save_summary_report(summary());
  RedisServer down;
  down.stop();
  EXPECT_EQ(run_tool("flush", dir.path(), down.url()), 1);
  EXPECT_EQ(run_tool("pending", dir.path(), down.url()), 0);
  EXPECT_EQ(run_tool("flush", dir.path(), "redis://nonsense:port"), 1);
  EXPECT_EQ(run_tool("flush", dir.path(), shared_redis().url()), 0);
  EXPECT_EQ(shared_redis().stream_ids("quorvel:summary").size(), 1u);
  EXPECT_EQ(run_tool("list --type summary", dir.path(), ""), 0);
  EXPECT_EQ(run_tool("show 1", dir.path(), ""), 0);
  EXPECT_EQ(run_tool("show 99", dir.path(), ""), 1);
  EXPECT_EQ(run_tool("list --type bogus", dir.path(), ""), 2);
}

TEST(ReportsTool, LeavesAnotherFlushersMessagesToItAndRewritesDeletedFiles) {
  TempDir dir;
  shared_redis().command({"FLUSHALL"});
  {
    auto store = quorvel::testing::open_store(dir.path());
    store->save_summary_report(summary("sh.600000"));
    store->save_summary_report(summary("sh.600519"));
  }
  sqlite::Database db(dir.path() / DATABASE_FILE_NAME, {});
  db.exec("UPDATE outbox SET claimed_by = 'another', lease_until = 99999999999999 WHERE seq = 1");
  const auto tool = [&](const std::string& args) {
    return quorvel::testing::run_program("REPORT_DIR='" + dir.path().string() + "' QUORVEL_MQ_URL='" +
                                             shared_redis().url() + "' '" + QUORVEL_REPORTS_BIN + "'",
                                         args, dir.path());
  };
  const auto flushed = tool("flush");
  EXPECT_EQ(flushed.status, 0) << flushed.err;
  EXPECT_NE(flushed.out.find("已投递 1 条，待投递 1 条\n其中 1 条正由另一个投递进程发送"), std::string::npos) << flushed.out;

  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
    if (entry.path().extension() == ".md") std::filesystem::remove(entry.path());
  EXPECT_NE(tool("write-files").out.find("已写出 2 个 Markdown 文件"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "2025-06-30" / "sh.600519_summary_deepseek.md"));
  EXPECT_NE(tool("write-files").out.find("已写出 0 个"), std::string::npos);
  // A file standing where the date folder belongs: the files cannot be written, and the tool says so.
  std::filesystem::remove_all(dir.path() / "2025-06-30");
  quorvel::testing::write_file(dir.path() / "2025-06-30", "");
  const auto blocked = tool("write-files");
  EXPECT_EQ(blocked.status, 1);
  EXPECT_NE(blocked.err.find("2 个 Markdown 文件未能写出"), std::string::npos) << blocked.err;
}

TEST(ReportsTool, LookingIntoAnEmptyDirectoryCreatesNothing) {
  TempDir dir;
  EXPECT_EQ(run_tool("list", dir.path() / "typo", ""), 1);
  EXPECT_EQ(run_tool("flush", dir.path() / "typo", shared_redis().url()), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "typo"));
}

}  // namespace
}  // namespace quorvel::report
