// A watchlist split between pelion-worker processes through the work queue: the real binaries on a
// private redis-server, one PostgreSQL report store shared by every process (as on several hosts),
// a fake LLM on 127.0.0.1 and instruments copied from the bundled sh.600000 bars.
#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>

#include "batch_llm_answers.h"
#include "support/fake_llm_server.h"
#include "support/free_port.h"
#include "support/postgres_server.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using testing::answer;
using testing::code_of;
using testing::RecordedRequest;
using testing::ScopedEnv;
using testing::ScriptedReply;
using testing::subject;
namespace fs = std::filesystem;

constexpr const char* DATE = "2023-02-10";
constexpr const char* WORK = "quorvel:work:openai_compatible";  // the work stream of the tests' model

// Bars of `count` instruments, the fake LLM, a redis-server and a fresh database of the shared
// PostgreSQL server as the report store of every process started from here.
struct WorkerSandbox {
  testing::TempDir dir;
  testing::FakeLlmServer llm;
  testing::RedisServer redis;
  ScopedEnv center{"TARNEL_CENTER", dir.path().string()};
  ScopedEnv briefs{"QUORVEL_SOLVARA_DIR", (dir / "briefs").string()};
  ScopedEnv reports{"REPORT_DIR", (dir / "report").string()};
  ScopedEnv store;
  ScopedEnv mq{"QUORVEL_MQ_URL", std::nullopt};
  ScopedEnv type{"LLM_CLIENT_TYPE", "openai_compatible"};
  ScopedEnv key{"OPENAI_COMPATIBLE_API_KEY", "sk-test-secret"};
  ScopedEnv url{"OPENAI_COMPATIBLE_BASE_URL", llm.base_url()};
  ScopedEnv model{"OPENAI_COMPATIBLE_MODEL", "fake-model"};
  fs::path pool = dir / "pool.txt";

  WorkerSandbox(const std::string& database, int count)
      : store("REPORT_DB_URL", testing::shared_postgres().fresh_database(database)) {
    testing::run_program(TARNEL_BARS_BIN, "sh.600000 --start 2023-02-01 --end 2023-02-10", dir.path());
    fs::copy_file(testing::test_data_dir().parent_path().parent_path() / "data/bars/a/sh.600000.csv", dir / "bars.csv");
    std::string list = "code,name,market,kind,file\n", codes;
    for (int i = 1; i <= count; ++i) {
      list += fmt::format("{},测试{},A,stock,bars.csv\n", code_of(i), i);
      codes += code_of(i) + "\n";
    }
    testing::write_file(dir / "instruments.csv", list);
    testing::write_file(pool, codes);
    const auto imported = testing::run_program(
        TARNEL_IMPORT_BIN, "--instruments '" + (dir / "instruments.csv").string() + "'", dir.path());
    if (imported.status != 0) throw std::runtime_error("import failed: " + imported.err);
  }

  // Runs `binary args` to its end in a scratch folder of its own (its pid in <scratch>/pid).
  std::future<testing::ProgramRun> start(const char* binary, const std::string& args,
                                         const std::string& scratch) const {
    const fs::path folder = dir / scratch;
    fs::create_directories(folder);
    const std::string program = "cd '" + folder.string() + "' && echo $$ > pid && exec '" + binary + "'";
    return std::async(std::launch::async, [=] { return testing::run_program(program, args, folder); });
  }
  std::future<testing::ProgramRun> submit(const std::string& extra = "") const {
    return start(PELION_BATCH_BIN,
                 fmt::format("--queue {} --pool '{}' -t {} {}", redis.url(), pool.string(), DATE, extra), "submitter");
  }
  std::future<testing::ProgramRun> worker(const std::string& name, const std::string& extra) const {
    return start(PELION_WORKER_BIN, fmt::format("--queue {} --name {} {}", redis.url(), name, extra), name);
  }
  pid_t pid_of(const std::string& scratch) const { return std::stoi(testing::read_file(dir / scratch / "pid")); }

  // Waits until the work stream holds `count` entries (the submitter has put the job on it).
  void wait_for_queue(std::size_t count) const {
    for (int i = 0; i < 300; ++i) {
      const auto len = redis.command({"XLEN", WORK});
      if (!len.empty() && std::stoul(len.front()) >= count) return;
      std::this_thread::sleep_for(50ms);
    }
    FAIL() << "the job never reached the queue";
  }

  std::map<std::string, int> requests() const {
    std::map<std::string, int> out;
    for (const auto& r : llm.requests()) ++out[subject(r)];
    return out;
  }
};

int count_in(const std::string& out, const char* label) {
  std::smatch m;
  return std::regex_search(out, m, std::regex(std::string(label) + " (\\d+)")) ? std::stoi(m[1]) : -1;
}

int handled_by(const testing::ProgramRun& run) {
  std::smatch m;
  return std::regex_search(run.err, m, std::regex("共处理 (\\d+) 项")) ? std::stoi(m[1]) : -1;
}

TEST(BatchWorkers, ThreeWorkersShareAJobAndEveryItemIsStoredOnce) {
  constexpr int N = 24;
  WorkerSandbox box("workers_split", N);
  box.llm.respond_with([](const RecordedRequest& r) { return answer(r, 300ms); });
  auto submitter = box.submit();
  box.wait_for_queue(N);
  std::vector<std::future<testing::ProgramRun>> workers;
  for (const char* name : {"w1", "w2", "w3"}) workers.push_back(box.worker(name, "--once -c 4"));
  int handled = 0;
  for (auto& w : workers) {
    const auto run = w.get();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_GT(handled_by(run), 0) << run.err;  // each one took a share
    handled += handled_by(run);
  }
  const auto run = submitter.get();
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(handled, N);
  EXPECT_EQ(count_in(run.out, "新分析"), N) << run.out;
  for (int i = 1; i <= N; ++i) {
    EXPECT_NE(run.out.find(code_of(i)), std::string::npos) << code_of(i) << " missing from the table";
    EXPECT_EQ(box.requests()[code_of(i)], 1) << code_of(i) << " paid for more than once";
  }
  // The cost line adds up what the workers reported: every call the model saw.
  EXPECT_EQ(testing::llm_calls(run.out), long(box.llm.request_count())) << run.out;
  // Done with: nothing left on the queue, nothing pending in the group.
  EXPECT_EQ(box.redis.command({"XLEN", WORK}).front(), "0");

  // Resumed: everything is stored in the shared store, so the job ends at once without a worker.
  const auto requests_before = box.llm.request_count();
  const auto again = box.submit().get();
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(count_in(again.out, "已存储"), N) << again.out;
  EXPECT_EQ(box.llm.request_count(), requests_before);
}

// The first worker dies (SIGKILL) while the model is answering about its item; after the lease
// another worker takes the item over, waits out the dead worker's claim on the instrument-day and
// analyses it. The submitter's cost line counts the calls of the worker that reported.
TEST(BatchWorkers, ItemOfAKilledWorkerIsTakenOverAfterTheLease) {
  WorkerSandbox box("workers_killed", 1);
  std::atomic<int> stock_calls{0};
  box.llm.respond_with([&](const RecordedRequest& r) {
    const bool first_stock_call = subject(r) != "brief" && stock_calls++ == 0;
    return answer(r, first_stock_call ? 8000ms : 10ms);  // the first one is never answered in time
  });
  auto submitter = box.submit();
  box.wait_for_queue(1);
  auto doomed = box.worker("doomed", "--once -c 1 --lease 2");
  for (int i = 0; i < 200 && stock_calls == 0; ++i) std::this_thread::sleep_for(50ms);
  ASSERT_EQ(stock_calls, 1) << "the first worker never asked the model";
  const std::size_t paid_by_dead = box.llm.request_count();
  ASSERT_EQ(kill(box.pid_of("doomed"), SIGKILL), 0);
  EXPECT_EQ(doomed.get().status, -1);
  std::this_thread::sleep_for(2500ms);  // the item's entry has been idle for the lease

  const auto heir = box.worker("heir", "--once -c 2 --lease 2").get();
  EXPECT_EQ(heir.status, 0) << heir.err;
  EXPECT_EQ(handled_by(heir), 1) << heir.err;
  const auto run = submitter.get();
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(count_in(run.out, "新分析"), 1) << run.out;
  EXPECT_EQ(box.requests()[code_of(1)], 2);
  EXPECT_EQ(testing::llm_calls(run.out), long(box.llm.request_count() - paid_by_dead)) << run.out;
  EXPECT_EQ(box.redis.command({"XLEN", WORK}).front(), "0");
  EXPECT_EQ(box.redis.command({"XPENDING", WORK, "pelion-workers"}).front(), "0");
  const auto again = box.submit().get();
  EXPECT_EQ(count_in(again.out, "已存储"), 1) << again.out;
}

// The broker restarts without its data mid-job (stream, group and results gone): the worker makes
// the group again, the submitter puts back what had no result, and every item ends stored, paid once.
TEST(BatchWorkers, ABrokerRestartedWithoutItsDataLosesNoItem) {
  constexpr int N = 6;
  WorkerSandbox box("workers_broker", N);
  box.llm.respond_with([](const RecordedRequest& r) { return answer(r, 400ms); });
  auto submitter = box.submit();
  box.wait_for_queue(N);
  auto worker = box.worker("w1", "-c 2");
  for (int i = 0; i < 200 && box.llm.request_count() < 3; ++i) std::this_thread::sleep_for(50ms);
  box.redis.stop();
  box.redis.start();
  const auto run = submitter.get();
  ASSERT_EQ(kill(box.pid_of("w1"), SIGTERM), 0);
  EXPECT_EQ(worker.get().status, 0);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(count_in(run.out, "新分析") + count_in(run.out, "已存储"), N) << run.out;
  for (int i = 1; i <= N; ++i) EXPECT_EQ(box.requests()[code_of(i)], 1) << code_of(i);
}

TEST(BatchWorkers, WorkerWithoutAQueueSaysSoAndExitsOne) {
  testing::CommandSandbox box;
  const int closed = testing::free_loopback_port();
  const auto unreachable = box.run_in(PELION_WORKER_BIN, fmt::format("--queue redis://127.0.0.1:{} --once", closed));
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_NE(unreachable.err.find(fmt::format("无法连接任务队列 redis://127.0.0.1:{}/0", closed)), std::string::npos)
      << unreachable.err;
  const auto malformed = box.run_in(PELION_WORKER_BIN, "--queue http://127.0.0.1:6379 --once");
  EXPECT_EQ(malformed.status, 1);
  EXPECT_NE(malformed.err.find("--queue 必须以 redis:// 开头"), std::string::npos) << malformed.err;
  EXPECT_EQ(box.run_in(PELION_WORKER_BIN, "--once").status, 2);  // --queue is required
}

}  // namespace
}  // namespace quorvel
