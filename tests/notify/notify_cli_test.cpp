// quorvel-notify end to end: reports reach the queue while it runs, it is killed (SIGKILL) while a
// push is in flight and started again; every brief and buy arrives, only the message in flight
// arrives twice, with its id; waits are never pushed. A channel that refuses keeps its message
// pending until a later run gets it through.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/fake_kline_server.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using testing::KlineReply;
using testing::KlineRequest;
using testing::ScopedEnv;
using Json = nlohmann::ordered_json;

constexpr const char* ANALYSIS = "quorvel:analysis";
constexpr const char* BRIEFS = "quorvel:solvara";

Json decision(const std::string& action) {
  return {{"stock_code", "sh.600000"}, {"action", action},         {"direction", "看多"},
          {"strategy_mode", "趋势跟随"}, {"entry_price_low", 10.1}, {"entry_price_high", 10.3},
          {"stop_loss", 9.6},            {"target_1", 11.0},        {"target_2", 11.8},
          {"rrr", 1.5},                  {"position_pct", "30%"},   {"confidence", "中"},
          {"key_watch", "量能能否持续放大"}};
}

Json analysis(const std::string& id, const std::string& action, bool review) {
  Json checks = Json::array();
  checks.push_back({{"name", "position_cap"}, {"level", "hard"}, {"passed", !review}, {"label", "仓位上限"}});
  return {{"id", id},          {"type", "analysis"},        {"schema_version", 1},
          {"report_id", 41},   {"stock_code", "sh.600000"}, {"stock_name", "浦发银行"},
          {"market_type", "A"}, {"analysis_time", "2025-06-30"}, {"current_price", 10.25},
          {"llm_model", "m"},  {"content", "..."},          {"decision", decision(action)},
          {"plan_checks", checks}, {"review_required", review}};
}

Json brief(const std::string& id) {
  return {{"id", id}, {"type", "solvara"}, {"report_id", 40}, {"market_type", "HK"},
          {"analysis_time", "2025-06-30"}, {"content", "**大盘结论**: 震荡偏强"}};
}

struct NotifySandbox : testing::CommandSandbox {
  testing::RedisServer redis;
  testing::FakeKlineServer webhook;
  std::unique_ptr<ScopedEnv> channels;

  explicit NotifySandbox(testing::FakeKlineServer::Handler handler) : webhook(std::move(handler)) {
    const auto file = dir / "delivery.json";
    std::ofstream(file) << R"({"channels": [{"name": "desk", "type": "json", "url": ")" << webhook.base_url()
                        << R"(/push"}]})";
    channels = std::make_unique<ScopedEnv>("QUORVEL_DELIVERY_FILE", file.string());
  }

  void store(const char* stream, const Json& message) {
    redis.command({"XADD", stream, "*", "id", message["id"], "type", message["type"], "payload", message.dump()});
  }
  testing::ProgramRun once(const std::string& extra = "") const {
    return run_in(QUORVEL_NOTIFY_BIN, "--url " + redis.url() + " --consumer desk-1 --once " + extra);
  }
  // The ids of the pushes the webhook received, in order.
  std::vector<std::string> pushed() const {
    std::vector<std::string> ids;
    for (const KlineRequest& r : webhook.requests()) ids.push_back(Json::parse(r.body).value("id", ""));
    return ids;
  }
  std::string pending(const char* stream) const {
    return redis.command({"XPENDING", stream, "quorvel-notify"}).at(0);
  }
};

// Waits up to 30 s for `done`.
template <class Done>
bool eventually(Done done) {
  for (int i = 0; i < 3000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

// A notifier running in the background, killed and reaped when the test ends however it ends.
struct Notifier {
  pid_t pid = -1;
  void kill_now() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
  ~Notifier() { kill_now(); }
};

pid_t start_notifier(const NotifySandbox& box) {
  const std::string url = box.redis.url();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(box.dir.path().c_str()) != 0) _exit(127);
    const int out = open("notify.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(out, 2);
    execl(QUORVEL_NOTIFY_BIN, QUORVEL_NOTIFY_BIN, "--url", url.c_str(), "--consumer", "desk-1",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

TEST(NotifyCli, PushesBriefsAndBuysAsStoredAndAfterAKillRepeatsOnlyTheMessageInFlight) {
  std::atomic<int> held{0};
  NotifySandbox box([&](const KlineRequest& r) {
    // The first push of "buy-2" hangs, so the notifier is killed while it waits for the reply.
    const bool hold = r.body.find("\"buy-2\"") != std::string::npos && held++ == 0;
    return KlineReply{200, R"({"ok":true})", {}, std::chrono::milliseconds(hold ? 4000 : 0), false};
  });
  Notifier notifier{start_notifier(box)};
  ASSERT_TRUE(eventually([&] {
    const auto groups = box.redis.command({"XINFO", "GROUPS", ANALYSIS});
    return std::find(groups.begin(), groups.end(), "quorvel-notify") != groups.end();
  })) << testing::read_file(box.dir / "notify.out");
  // A second notifier under the same consumer name would take over the first one's pushes.
  const auto twin = box.once();
  EXPECT_EQ(twin.status, 2) << twin.err;
  EXPECT_NE(twin.err.find("另一个 quorvel-notify 正以消费者 desk-1"), std::string::npos) << twin.err;
  // A payload no consumer can read is skipped, not retried for ever ahead of the others.
  box.redis.command({"XADD", BRIEFS, "*", "id", "bad-1", "type", "solvara", "payload", "{not json"});
  box.store(BRIEFS, brief("brief-1"));
  // The group vanishes (deleted, or a broker restarted without its data): what is stored meanwhile
  // still arrives.
  ASSERT_TRUE(eventually([&] { return box.pushed().size() == 1; })) << testing::read_file(box.dir / "notify.out");
  box.redis.command({"XGROUP", "DESTROY", BRIEFS, "quorvel-notify"});
  box.store(BRIEFS, brief("brief-2"));
  ASSERT_TRUE(eventually([&] { return box.pushed().size() == 2; })) << testing::read_file(box.dir / "notify.out");
  box.store(ANALYSIS, analysis("buy-1", "建议买入", false));
  box.store(ANALYSIS, analysis("wait-1", "观望等待", false));
  box.store(ANALYSIS, analysis("buy-2", "谨慎买入", true));
  ASSERT_TRUE(eventually([&] { return held.load() > 0; })) << testing::read_file(box.dir / "notify.out");
  notifier.kill_now();
  Json odd = analysis("buy-3", "强烈买入", false);
  odd["review_required"] = nullptr;  // a member of an unexpected type is read as absent
  box.store(ANALYSIS, odd);          // stored while nobody listens

  const auto restarted = box.once();
  ASSERT_EQ(restarted.status, 0) << restarted.err << restarted.out;
  EXPECT_EQ(box.pushed(), (std::vector<std::string>{"brief-1", "brief-2", "buy-1", "buy-2", "buy-2", "buy-3"}));
  const auto requests = box.webhook.requests();
  EXPECT_NE(requests.at(0).body.find("震荡偏强"), std::string::npos);
  EXPECT_NE(requests.at(2).body.find("买入 10.1–10.3，止损 9.6，目标 11.0 / 11.8"), std::string::npos) << requests.at(2).body;
  EXPECT_EQ(requests.at(2).body.find("需复核"), std::string::npos);
  EXPECT_NE(requests.at(4).body.find("【需复核】买入计划"), std::string::npos);
  EXPECT_NE(requests.at(4).body.find("未通过 仓位上限"), std::string::npos);
  EXPECT_EQ(box.pending(ANALYSIS), "0");
  EXPECT_EQ(box.pending(BRIEFS), "0");

  // Nothing is pushed twice once acknowledged.
  ASSERT_EQ(box.once().status, 0);
  EXPECT_EQ(box.webhook.request_count(), 6u);
}

TEST(NotifyCli, ARefusedPushStaysPendingUntilALaterRunGetsItThrough) {
  std::atomic<int> calls{0};
  NotifySandbox box([&](const KlineRequest&) {
    return calls++ == 0 ? KlineReply{400, R"({"error":"bad token"})", {}, {}, false}
                        : KlineReply{200, R"({"ok":true})", {}, {}, false};
  });
  box.store(ANALYSIS, analysis("buy-1", "建议买入", false));
  const auto refused = box.once("--from-start");
  EXPECT_EQ(refused.status, 1) << refused.err;
  EXPECT_NE(refused.out.find("desk failed"), std::string::npos) << refused.out;
  EXPECT_EQ(box.pending(ANALYSIS), "1");

  const auto again = box.once();
  ASSERT_EQ(again.status, 0) << again.err << again.out;
  EXPECT_EQ(box.pushed(), (std::vector<std::string>{"buy-1", "buy-1"}));
  EXPECT_EQ(box.pending(ANALYSIS), "0");

  // The stream and its group are lost while no notifier runs (a broker restarted without its
  // data); what is stored afterwards still arrives.
  box.redis.command({"DEL", ANALYSIS});
  box.store(ANALYSIS, analysis("buy-2", "建议买入", false));
  ASSERT_EQ(box.once().status, 0);
  EXPECT_EQ(box.pushed(), (std::vector<std::string>{"buy-1", "buy-1", "buy-2"}));
}

}  // namespace
}  // namespace quorvel
