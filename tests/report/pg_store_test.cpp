// The report store on the tests' private PostgreSQL server: every operation answers as it does on
// SQLite, stores of several workers sharing one database claim each message, instrument-day and
// delivery once, an operation waits for a server that restarts, and a SQLite store moves over with
// every row and id.
#include <atomic>
#include <set>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "quorvel/report/pg_database.h"
#include "report_fixtures.h"
#include "support/postgres_server.h"

namespace quorvel::testing {
namespace {

using report::SqlReportStore;
using Json = nlohmann::ordered_json;

std::shared_ptr<SqlReportStore> open_pg(const std::filesystem::path& dir, const std::string& url,
                                        std::chrono::milliseconds wait = std::chrono::seconds(30)) {
  report::StoreOptions o;
  o.directory = dir;
  o.database_url = url;
  o.server_wait = wait;
  return std::make_shared<SqlReportStore>(o);
}

report::AnalysisReport buy(const std::string& code) {
  auto a = analysis(code);
  a.decision = Json{{"action", "强烈买入"}, {"direction", "看涨"}, {"confidence", "高"}};
  a.plan_checks = Json::array({Json{{"rule", "tick"}, {"passed", false}}});
  a.review_required = true;
  a.levels = Json{{"support", 9.8}};
  return a;
}

// What every read of the store answers after a fixed series of writes, one line per answer.
std::vector<std::string> exercise(SqlReportStore& s) {
  std::vector<std::string> out;
  const auto note = [&](const std::string& what, const auto& value) {
    out.push_back(fmt::format("{}={}", what, value));
  };
  s.save_analysis_with_summary(buy("sh.600000"), summary("sh.600000"));
  auto plain = analysis("sz.000001");
  plain.decision = Json();  // the reply held no decision
  s.save_analysis_with_summary(plain, summary("sz.000001"));
  s.save_solvara(brief());
  s.save_analysis_report(analysis("hk.00700"));  // its summary never came
  note("exists", s.exists("sh.600000", "2025-06-30", "deepseek"));
  note("exists-without-summary", s.exists("hk.00700", "2025-06-30", "deepseek"));
  const auto stored = s.stored_analysis({"sh.600000", "2025-06-30", "deepseek"});
  note("stored", stored
                     ? stored->decision->dump() + stored->plan_checks.dump() + std::to_string(stored->review_required)
                     : "none");
  const report::AnalysisKey key{"sh.600000", "2025-06-30", "deepseek"};
  note("claims", fmt::format("{}{}{}", s.claim_analysis(key, "a", std::chrono::minutes(1)),
                             s.claim_analysis(key, "b", std::chrono::minutes(1)),
                             s.claim_analysis(key, "a", std::chrono::minutes(1))));
  s.release_analysis(key, "a");
  note("claim-after-release", s.claim_analysis(key, "b", std::chrono::minutes(1)));

  const report::DeliveryKey channel{"wecom", "2025-06-30"};
  const auto first = s.claim_delivery(channel, "d1", {});
  note("delivery", int(first.status));
  note("delivery-elsewhere", int(s.claim_delivery(channel, "d1", {}).status));
  note("finish", s.finish_delivery(channel, first.owner, true, ""));
  note("delivery-sent", int(s.claim_delivery(channel, "d1", {}).status));
  for (const auto& d : s.deliveries("2025-06-30"))
    note("record", fmt::format("{} {} {} {}", d.channel, d.digest_id, int(d.state), d.attempts));

  const auto plans = s.plans_to_score({});
  note("plans", plans.size());
  std::vector<report::PlanResult> results;
  for (const auto& p : plans) results.push_back({p.report_id, "scored", Json{{"return", 0.05}}});
  note("scored", s.save_plan_results(results));
  note("scored-again", s.save_plan_results(results));
  for (const auto& p : s.scored_plans({})) note("scored-plan", p.plan.code + p.status + p.score.dump() + p.plan.check);

  for (const auto& e : s.analysis_entries())
    note("entry", fmt::format("{} {} {} {} {} {} {} {} {}", e.code, e.action, e.direction, e.confidence,
                              e.review_required, e.checked, e.score_status, e.score.dump(), e.summary.size()));
  const auto id = s.latest_analysis_id(key);
  const auto page = id ? s.page_report(*id) : std::nullopt;
  note("page", page ? page->decision.dump() + page->levels.dump() + page->brief + page->score.dump() : "none");
  for (const auto& r : s.list_reports({}))
    note("report", fmt::format("{} {} {} {} {}", r.id, report::kind_name(r.kind), r.stock_code,
                               r.market_type.value_or("-"), r.current_price.value_or(-1)));
  note("pending", s.pending_count());
  ScriptedPublisher publisher;
  const auto flushed = s.flush_with(publisher);
  note("flushed", fmt::format("{} {} {}", flushed.delivered, flushed.pending, publisher.sent.size()));
  for (const auto& m : publisher.sent) note("sent", m.stream + " " + Json::parse(m.payload).value("stock_code", "-"));
  return out;
}

TEST(PgStore, EveryOperationAnswersAsOnSqlite) {
  TempDir sqlite_dir, pg_dir;
  auto lite = open_store(sqlite_dir.path());
  auto server = open_pg(pg_dir.path(), shared_postgres().fresh_database("same_answers"));
  const auto expected = exercise(*lite);
  EXPECT_EQ(exercise(*server), expected);
  EXPECT_GT(expected.size(), 25u);
  // Markdown files go to this machine's report directory, as with SQLite.
  EXPECT_TRUE(std::filesystem::exists(pg_dir / "2025-06-30"));

  // A damaged decision column leaves the listing standing.
  const std::string url = shared_postgres().fresh_database("damaged");
  auto damaged = open_pg(pg_dir.path(), url);
  damaged->save_analysis_with_summary(buy("sh.600000"), summary("sh.600000"));
  pg::Database raw(url, {});
  raw.exec("UPDATE reports SET decision = '{not json' WHERE kind = 'analysis'");
  const auto entries = damaged->analysis_entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].action, "");
}

TEST(PgStore, WorkersSharingOneDatabaseTakeEachThingOnce) {
  const std::string url = shared_postgres().fresh_database("shared_workers");
  constexpr int kWorkers = 4, kSaves = 40;
  TempDir dirs[kWorkers];
  std::vector<std::shared_ptr<SqlReportStore>> workers;
  for (auto& d : dirs) workers.push_back(open_pg(d.path(), url));  // four schema set-ups at once are one
  std::vector<std::thread> threads;
  std::atomic<int> analysis_claims = 0, delivery_claims = 0;
  for (int w = 0; w < kWorkers; ++w)
    threads.emplace_back([&, w] {
      for (int i = 0; i < kSaves; ++i) {
        const std::string code = fmt::format("sh.{}", 600000 + w * 1000 + i);
        workers[w]->save_analysis_with_summary(analysis(code), summary(code));
      }
      if (workers[w]->claim_analysis({"sh.600519", "2025-06-30", "deepseek"}, fmt::format("w{}", w),
                                     std::chrono::minutes(1)))
        ++analysis_claims;
      if (workers[w]->claim_delivery({"wecom", "2025-06-30"}, "d", {}).status == report::ClaimStatus::claimed)
        ++delivery_claims;
    });
  for (auto& t : threads) t.join();
  threads.clear();
  EXPECT_EQ(analysis_claims, 1);
  EXPECT_EQ(delivery_claims, 1);

  // Four flushers at once, each with its own broker connection: every message goes out once.
  std::vector<ScriptedPublisher> publishers(kWorkers);
  for (int w = 0; w < kWorkers; ++w) threads.emplace_back([&, w] { workers[w]->flush_with(publishers[w]); });
  for (auto& t : threads) t.join();
  std::multiset<std::string> ids;
  for (const auto& p : publishers)
    for (const auto& m : p.sent) ids.insert(m.id);
  EXPECT_EQ(ids.size(), std::size_t(kWorkers * kSaves * 2));
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), ids.size());
  EXPECT_EQ(workers[0]->pending_count(), 0u);

  // The brief lock: held by one worker at a time; a holder that dies (its connection ends) frees it.
  const report::BriefKey brief_key{"A", "2025-06-30", "v4"};
  auto first = workers[0]->brief_lock(brief_key);
  auto second = workers[1]->brief_lock(brief_key);
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(first->try_take());
  EXPECT_TRUE(first->try_take());  // held, not taken twice
  EXPECT_FALSE(second->try_take());
  shared_postgres().command("SELECT pg_terminate_backend(pid) FROM pg_locks WHERE locktype = 'advisory' AND granted");
  bool taken = false;  // the holder's session ends soon after it is told to
  for (int i = 0; i < 100 && !taken; ++i) {
    taken = second->try_take();
    if (!taken) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(taken);
  EXPECT_EQ(
      workers[0]
          ->list_reports({.code = {}, .date = {}, .market = {}, .kind = {}, .llm_client_type = {}, .limit = 10000})
          .size(),
      std::size_t(kWorkers * kSaves * 2));
}

TEST(PgStore, AnOperationWaitsForAServerThatRestartsAndAWrongUrlIsNamed) {
  TempDir dir;
  auto& server = shared_postgres();
  const std::string url = server.fresh_database("restart");
  auto store = open_pg(dir.path(), url);
  store->save_analysis_with_summary(analysis("sh.600000"), summary("sh.600000"));
  server.stop();
  LogCapture log;
  // The server is started again from this thread: it dies with the thread that started it.
  std::thread worker([&] { store->save_analysis_with_summary(analysis("sh.600001"), summary("sh.600001")); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  server.start();
  worker.join();
  EXPECT_TRUE(store->exists("sh.600001", "2025-06-30", "deepseek"));
  EXPECT_EQ(store->list_reports({}).size(), 4u);  // stored once, though its first attempt broke
  EXPECT_TRUE(log.contains("连接中断"));

  // A server that stays away longer than the wait: the operation fails and says so.
  auto impatient = open_pg(dir.path(), url, std::chrono::milliseconds(600));
  server.stop();
  EXPECT_THROW(impatient->pending_count(), pg::ConnectionLost);
  server.start();
  EXPECT_EQ(impatient->pending_count(), 4u);

  report::StoreOptions wrong;
  wrong.directory = dir.path();
  wrong.database_url = fmt::format("postgresql://nobody@127.0.0.1:{}/quorvel", server.port() + 1);
  try {
    SqlReportStore s(wrong);
    FAIL() << "opened a store on a port where no server listens";
  } catch (const RuntimeError& e) {
    EXPECT_NE(std::string(e.what()).find("无法连接报告数据库"), std::string::npos) << e.what();
  }
}

TEST(PgStore, MigrateMovesEveryRowWithItsId) {
  TempDir dir;
  {
    auto lite = open_store(dir.path());
    exercise(*lite);
    lite->save_analysis_with_summary(analysis("sh.600009"), summary("sh.600009"));  // left pending
    lite->save_solvara(brief("HK"));
  }
  const std::string url = shared_postgres().fresh_database("migrated");
  TempDir scratch;
  const auto migrate = [&] {
    return run_program(QUORVEL_REPORTS_BIN, fmt::format("--dir '{}' migrate --to '{}'", dir.path().string(), url),
                       scratch.path());
  };
  const auto first = migrate();
  ASSERT_EQ(first.status, 0) << first.out << first.err;
  EXPECT_NE(first.out.find("reports          9 行"), std::string::npos) << first.out;

  auto lite = open_store(dir.path());
  auto moved = open_pg(dir.path(), url);
  const auto line = [](const report::StoredReport& r) {
    return fmt::format("{} {} {}", r.id, r.content, r.created_at);
  };
  std::vector<std::string> before, after;
  for (const auto& r : lite->list_reports({})) before.push_back(line(r));
  for (const auto& r : moved->list_reports({})) after.push_back(line(r));
  EXPECT_EQ(after, before);
  EXPECT_EQ(moved->pending_count(), 3u);
  EXPECT_EQ(moved->scored_plans({}).size(), lite->scored_plans({}).size());
  EXPECT_EQ(moved->deliveries("2025-06-30").size(), 1u);
  moved->save_solvara(brief("US"));  // ids go on after the moved ones
  EXPECT_EQ(moved->list_reports({})[0].id, lite->list_reports({})[0].id + 1);

  const auto again = migrate();
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("已有 10 份报告"), std::string::npos) << again.err;
}

}  // namespace
}  // namespace quorvel::testing
