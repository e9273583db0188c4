// Throughput of the report store.
//
//   BM_Save/<files>/<engine> saves of an analysis (report row + outbox message in one transaction),
//                            with (1) or without (0) its Markdown file, on SQLite (0) or PostgreSQL
//                            (1); items/s = saves per second
//   BM_Flush/<batch>/<engine> delivery of 2,048 pending messages to a local redis-server in pipelined
//                            batches of <batch>; items/s = messages delivered per second
//
// Run: bin/report_bench in the build directory (needs redis-server and the PostgreSQL server
// programs on PATH or in /usr/lib/postgresql/*/bin; the benchmark starts both on free 127.0.0.1
// ports; PostgreSQL runs with fsync on, as in production, unlike the tests' server).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <random>

#include <fmt/format.h>

#include "quorvel/report/pg_database.h"
#include "quorvel/report/redis_publisher.h"
#include "quorvel/report/sql_report_store.h"
#include "quorvel/utils/logger.h"
#include "support/postgres_server.h"
#include "support/redis_server.h"

namespace {

using namespace quorvel::report;

class ScratchDir {
 public:
  ScratchDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / fmt::format("quorvel-bench-{:08x}", rd());
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A typical analysis: a few kilobytes of Chinese Markdown.
AnalysisReport sample(int i) {
  AnalysisReport r;
  r.stock_code = fmt::format("sh.{}", 600000 + i % 5000);
  r.stock_name = "浦发银行";
  r.analysis_time = "2025-06-30";
  r.market_type = "A";
  r.current_price = 10.25;
  r.llm_client_type = "deepseek";
  r.llm_model = "deepseek-chat";
  for (int k = 0; k < 40; ++k) r.content += "### 趋势判断\n均线多头排列，量能温和放大，关注前高压力位。\n";
  return r;
}

// One PostgreSQL server for the whole benchmark run; each benchmark gets a fresh database.
quorvel::testing::PostgresServer& postgres() {
  static quorvel::testing::PostgresServer server(true);
  return server;
}

// Options of a store on the engine the benchmark's argument `engine` names.
StoreOptions options_on(const ScratchDir& dir, std::int64_t engine) {
  StoreOptions o;
  o.directory = dir.path();
  if (engine == 1) o.database_url = postgres().fresh_database("bench");
  return o;
}

void BM_Save(benchmark::State& state) {
  quorvel::logger.backend().set_level(spdlog::level::err);
  ScratchDir dir;
  StoreOptions o = options_on(dir, state.range(1));
  o.write_files = state.range(0) != 0;
  SqlReportStore store(o);
  int i = 0;
  for (auto _ : state) store.save_analysis_report(sample(i++));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Save)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_Flush(benchmark::State& state) {
  quorvel::logger.backend().set_level(spdlog::level::err);
  constexpr int MESSAGES = 2048;
  quorvel::testing::RedisServer redis;
  ScratchDir dir;
  StoreOptions o = options_on(dir, state.range(1));
  o.write_files = false;
  o.flush_batch = std::size_t(state.range(0));
  SqlReportStore store(o, std::make_shared<RedisPublisher>(RedisEndpoint::parse(redis.url())));
  for (int i = 0; i < MESSAGES; ++i) store.save_analysis_report(sample(i));
  sqlite3* db = nullptr;
  sqlite3_open(store.database_file().c_str(), &db);
  std::size_t delivered = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (o.database_url.empty()) {
      sqlite3_exec(db, "UPDATE outbox SET delivered_at = NULL", nullptr, nullptr, nullptr);
    } else {
      quorvel::pg::Database(o.database_url, {}).exec("UPDATE outbox SET delivered_at = NULL");
    }
    redis.command({"FLUSHALL"});
    state.ResumeTiming();
    const FlushResult r = store.flush();
    if (!r.ok()) state.SkipWithError(r.error.c_str());
    delivered += r.delivered;
  }
  sqlite3_close(db);
  state.SetItemsProcessed(std::int64_t(delivered));
}
BENCHMARK(BM_Flush)->ArgsProduct({{16, 256, 1024}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
