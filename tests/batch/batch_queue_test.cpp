// pelion-batch the way a desk runs it: the queue on, many analyses at once, and more than one run
// on one store. A watchlist of 200 instruments (copies of the bundled sh.600000 bars) against a
// private redis-server and a fake LLM on 127.0.0.1.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "batch_llm_answers.h"
#include "quorvel/report/sql_report_store.h"
#include "quorvel/utils/sqlite_db.h"
#include "support/fake_llm_server.h"
#include "support/redis_server.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using testing::RecordedRequest;
using testing::answer;
using testing::code_of;
using testing::subject;
using testing::ScopedEnv;
using testing::ScriptedReply;
namespace fs = std::filesystem;

constexpr const char* DATE = "2023-02-10";
constexpr const char* CLIENT = "openai_compatible";
const char* const STREAMS[] = {"quorvel:analysis", "quorvel:summary", "quorvel:solvara"};


// A bar store with 200 instruments of the bundled sh.600000 bars, reports and briefs of its own,
// the fake LLM, and the queue on the shared redis-server (a database of its own per sandbox).
struct QueueSandbox {
  testing::TempDir dir;
  testing::FakeLlmServer llm;
  testing::RedisServer redis;
  ScopedEnv center{"TARNEL_CENTER", dir.path().string()};
  ScopedEnv briefs{"QUORVEL_SOLVARA_DIR", (dir / "briefs").string()};
  ScopedEnv reports{"REPORT_DIR", (dir / "report").string()};
  ScopedEnv mq{"QUORVEL_MQ_URL", redis.url(0)};
  ScopedEnv type{"LLM_CLIENT_TYPE", CLIENT};
  ScopedEnv key{"OPENAI_COMPATIBLE_API_KEY", "sk-test-secret"};
  ScopedEnv url{"OPENAI_COMPATIBLE_BASE_URL", llm.base_url()};
  ScopedEnv model{"OPENAI_COMPATIBLE_MODEL", "fake-model"};

  QueueSandbox() {
    llm.respond_with([](const RecordedRequest& r) { return answer(r); });
    // The first command fills the empty store with the bundled data; then the copies go in.
    testing::run_program(TARNEL_BARS_BIN, "sh.600000 --start 2023-02-01 --end 2023-02-10", dir.path());
    fs::copy_file(testing::test_data_dir().parent_path().parent_path() / "data/bars/a/sh.600000.csv", dir / "bars.csv");
    std::string list = "code,name,market,kind,file\n";
    for (int i = 1; i <= 200; ++i) list += fmt::format("{},测试{},A,stock,bars.csv\n", code_of(i), i);
    testing::write_file(dir / "instruments.csv", list);
    const auto imported = testing::run_program(TARNEL_IMPORT_BIN, "--instruments '" + (dir / "instruments.csv").string() + "'", dir.path());
    if (imported.status != 0) throw std::runtime_error("import failed: " + imported.err);
  }

  fs::path pool(int first, int count, const std::string& name) const {
    std::string text;
    for (int i = first; i < first + count; ++i) text += code_of(i) + "\n";
    testing::write_file(dir / name, text);
    return dir / name;
  }

  // Runs pelion-batch in its own scratch folder of the sandbox (so runs may overlap).
  testing::ProgramRun run(const std::string& args, const std::string& scratch = "run") const {
    fs::create_directories(dir / scratch);
    return testing::run_program("cd '" + (dir / scratch).string() + "' && '" PELION_BATCH_BIN "'", args, dir / scratch);
  }

  std::map<std::string, int> stock_requests() const {
    std::map<std::string, int> out;
    for (const auto& r : llm.requests()) ++out[subject(r)];
    return out;
  }
};

struct OutboxRow {
  std::string message_id, stream, entry_id;
  bool delivered = false;
};

std::vector<OutboxRow> outbox(const fs::path& report_dir) {
  sqlite::OpenOptions options;
  options.create = false;
  sqlite::Database db(report_dir / "reports.sqlite3", options);
  auto s = db.prepare("SELECT message_id, stream, entry_id, delivered_at IS NOT NULL FROM outbox ORDER BY seq");
  std::vector<OutboxRow> rows;
  while (s.step()) rows.push_back({s.text(0), s.text(1), s.text(2), s.integer(3) != 0});
  return rows;
}

// Every stored message is delivered, is in its stream exactly once, and the entry the store
// recorded for it is the one that carries it.
void expect_streams_match_store(const QueueSandbox& box) {
  std::map<std::string, std::map<std::string, std::string>> entries;  // stream -> entry id -> message id
  std::multiset<std::string> in_streams;
  for (const char* stream : STREAMS) {
    entries[stream] = box.redis.stream_entries(stream);
    for (const auto& [entry, id] : entries[stream]) in_streams.insert(id);
  }
  const auto rows = outbox(box.dir / "report");
  std::size_t lost = 0, misfiled = 0, duplicated = 0;
  for (const auto& row : rows) {
    if (!row.delivered || in_streams.count(row.message_id) == 0) ++lost;
    if (in_streams.count(row.message_id) > 1) ++duplicated;
    if (row.delivered && entries[row.stream][row.entry_id] != row.message_id) ++misfiled;
  }
  EXPECT_EQ(lost, 0u);
  EXPECT_EQ(duplicated, 0u);
  EXPECT_EQ(misfiled, 0u);
  EXPECT_EQ(in_streams.size(), rows.size());
}

int count_in(const std::string& out, const char* label) {
  std::smatch m;
  return std::regex_search(out, m, std::regex(std::string(label) + " (\\d+)")) ? std::stoi(m[1]) : -1;
}

// QUORVEL_STRESS_REPEAT runs it more often (the suite runs it twice: a first run and a forced one).
TEST(BatchQueue, TwoHundredAnalysesAtSixteenPublishEveryMessageOnce) {
  QueueSandbox box;
  const fs::path pool = box.pool(1, 200, "p200.txt");
  const char* repeat_env = std::getenv("QUORVEL_STRESS_REPEAT");
  const int repeat = repeat_env ? std::max(1, std::atoi(repeat_env)) : 2;
  for (int round = 0; round < repeat; ++round) {
    SCOPED_TRACE(round);
    const auto run = box.run("--pool '" + pool.string() + "' -t " + DATE + " -c 16" + (round ? " --force" : ""));
    ASSERT_EQ(run.status, 0) << run.err.substr(0, 4000);
    EXPECT_EQ(count_in(run.out, "新分析"), 200) << run.out.substr(run.out.size() - 400);
    EXPECT_EQ(outbox(box.dir / "report").size(), std::size_t(401 * (round + 1)));
    expect_streams_match_store(box);
  }
}

TEST(BatchQueue, TwoRunsAtOncePayForEachAnalysisOnceAndBothEndComplete) {
  QueueSandbox box;
  const fs::path pool = box.pool(1, 20, "p20.txt");
  const std::string args = "--pool '" + pool.string() + "' -t " + DATE + " -c 4";
  auto first = std::async(std::launch::async, [&] { return box.run(args, "a"); });
  auto second = std::async(std::launch::async, [&] { return box.run(args, "b"); });
  const testing::ProgramRun runs[] = {first.get(), second.get()};
  int analysed = 0;
  for (const auto& run : runs) {
    EXPECT_EQ(run.status, 0) << run.err.substr(0, 4000);
    EXPECT_EQ(count_in(run.out, "新分析") + count_in(run.out, "已存储"), 20) << run.out;
    analysed += count_in(run.out, "新分析");
  }
  EXPECT_EQ(analysed, 20);
  const auto requests = box.stock_requests();
  for (int i = 1; i <= 20; ++i) EXPECT_EQ(requests.count(code_of(i)) ? requests.at(code_of(i)) : 0, 1) << code_of(i);
  EXPECT_EQ(box.redis.stream_entries("quorvel:analysis").size(), 20u);
  EXPECT_EQ(box.redis.stream_entries("quorvel:summary").size(), 20u);
}

// Another run holds two claims: one dies without storing (its lease runs out and this run analyses
// the instrument), the other stores its analysis while this run waits (shown as stored, not paid).
TEST(BatchQueue, WaitsForAnotherRunsClaimAndTakesOverOneThatRunsOut) {
  QueueSandbox box;
  const fs::path pool = box.pool(1, 3, "p3.txt");
  auto store = std::make_shared<report::SqlReportStore>(report::StoreOptions{.directory = box.dir / "report"});
  const report::AnalysisKey dead{code_of(1), DATE, CLIENT}, alive{code_of(2), DATE, CLIENT};
  ASSERT_TRUE(store->claim_analysis(dead, "dead-run", std::chrono::milliseconds(1500)));
  ASSERT_TRUE(store->claim_analysis(alive, "live-run", std::chrono::milliseconds(60000)));
  std::thread live_run([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const auto decision = testing::buy_decision({{"stock_code", alive.code}, {"current_price", 7.24}});
    store->save_analysis_with_summary({alive.code, "测试2", "分析", DATE, "A", 7.24, CLIENT, "m", decision, "", {}, false, {}},
                                      {alive.code, "测试2", "#### 决策建议\n观望", DATE, 7.24, CLIENT, "m", "", false});
    store->release_analysis(alive, "live-run");
  });
  const auto run = box.run("--pool '" + pool.string() + "' -t " + DATE);
  live_run.join();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(count_in(run.out, "新分析"), 2) << run.out;
  EXPECT_EQ(count_in(run.out, "已存储"), 1) << run.out;
  const auto requests = box.stock_requests();
  EXPECT_EQ(requests.count(alive.code), 0u);
  EXPECT_EQ(requests.at(dead.code), 1);
  // Its own claims are gone: another run may take the instrument-days at once.
  EXPECT_TRUE(store->claim_analysis({code_of(3), DATE, CLIENT}, "next-run", std::chrono::milliseconds(1000)));
}

}  // namespace
}  // namespace quorvel
