#include <gtest/gtest.h>

#include <sqlite3.h>

#include <thread>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "quorvel/report/default_store.h"
#include "quorvel/report/message.h"
#include "quorvel/report/report_paths.h"
#include "quorvel/utils/logger.h"
#include "report/report_fixtures.h"

namespace quorvel::report {
namespace {

using Json = nlohmann::ordered_json;
using quorvel::testing::analysis;
using quorvel::testing::brief;
using quorvel::testing::LogCapture;
using quorvel::testing::ScopedEnv;
using quorvel::testing::ScriptedPublisher;
using quorvel::testing::summary;
using quorvel::testing::TempDir;

class ReportStoreTest : public ::testing::Test {
 protected:
  ReportStoreTest() : store_(quorvel::testing::open_store(dir_.path())) {}

  // Outbox rows as (message_id, stream, payload).
  std::vector<std::tuple<std::string, std::string, Json>> outbox() {
    std::vector<std::tuple<std::string, std::string, Json>> rows;
    sqlite3* db = nullptr;
    sqlite3_open(store_->database_file().c_str(), &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT message_id, stream, payload FROM outbox ORDER BY seq", -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
      rows.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                        reinterpret_cast<const char*>(sqlite3_column_text(st, 1)),
                        Json::parse(reinterpret_cast<const char*>(sqlite3_column_text(st, 2))));
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
  }

  TempDir dir_;
  std::shared_ptr<SqlReportStore> store_;
};

TEST_F(ReportStoreTest, ExistsAnswersForAnalysisWithSummaryOfCodeDateAndClient) {
  store_->save_analysis_with_summary(analysis("sh.600000", "2025-06-30_1500", "deepseek"),
                                     summary("sh.600000", "2025-06-30"));
  store_->save_summary_report(summary("sz.000001", "2025-06-30"));
  // An analysis whose summary never arrived (a run killed between the two) must be done again.
  store_->save_analysis_report(analysis("sh.600519", "2025-06-30", "deepseek"));
  EXPECT_FALSE(store_->exists("sh.600519", "2025-06-30", "deepseek"));
  EXPECT_FALSE(store_->stored_analysis({"sh.600519", "2025-06-30", "deepseek"}).has_value());
  EXPECT_TRUE(store_->exists("sh.600000", "2025-06-30", "deepseek"));
  EXPECT_TRUE(store_->exists("sh.600000", "2025-06-30_0930", "deepseek"));
  EXPECT_FALSE(store_->exists("sh.600000", "2025-06-30", "openai"));
  EXPECT_FALSE(store_->exists("sh.600000", "2025-07-01", "deepseek"));
  EXPECT_FALSE(store_->exists("sz.000001", "2025-06-30", "deepseek"));  // only a summary is stored
}

TEST_F(ReportStoreTest, EverySaveQueuesExactlyOneMessageOnItsStream) {
  store_->save_analysis_report(analysis());
  store_->save_summary_report(summary());
  store_->save_solvara(brief());
  const auto rows = outbox();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(std::get<1>(rows[0]), "quorvel:analysis");
  EXPECT_EQ(std::get<1>(rows[1]), "quorvel:summary");
  EXPECT_EQ(std::get<1>(rows[2]), "quorvel:solvara");
  for (const auto& [id, stream, payload] : rows) {
    EXPECT_EQ(payload["id"], id);
    EXPECT_EQ("quorvel:" + payload["type"].get<std::string>(), stream);
    EXPECT_TRUE(store_->get_report(payload["report_id"].get<std::int64_t>()).has_value());
  }
  EXPECT_EQ(store_->pending_count(), 3u);
}

// SQL and Unicode pass unchanged; control characters other than line feed and tab never reach the
// database, the files or the queue.
TEST_F(ReportStoreTest, HostileTextIsStoredAndQueuedSafely) {
  AnalysisReport r = analysis("sh.600000'); DROP TABLE reports; --", "2025-06-30");
  r.stock_name = "名\"称'\n🚀\u200d";
  r.content = std::string("第一行\n\"引号\" 'x' \\ ") + std::string(1, '\0') + " 🚀 结束";
  r.llm_model = "m\r\n";
  store_->save_analysis_report(r);
  const auto stored = store_->list_reports({});
  ASSERT_EQ(stored.size(), 1u);
  const std::string content = "第一行\n\"引号\" 'x' \\  🚀 结束";
  EXPECT_EQ(stored[0].stock_code, r.stock_code);
  EXPECT_EQ(stored[0].stock_name, r.stock_name);
  EXPECT_EQ(stored[0].content, content);
  EXPECT_EQ(stored[0].llm_model, "m\n");
  const Json payload = std::get<2>(outbox().at(0));
  EXPECT_EQ(payload["stock_code"], r.stock_code);
  EXPECT_EQ(payload["stock_name"], r.stock_name);
  EXPECT_EQ(payload["content"], content);
  EXPECT_TRUE(payload["decision"].is_null());
}

TEST_F(ReportStoreTest, TimestampsComeFromTheClockService) {
  using namespace std::chrono;
  const auto t = date::sys_days(date::year{2025} / 6 / 30) + hours(7) + minutes(5) + milliseconds(42);
  Service<Clock>::Guard pin(std::make_shared<FixedClock>(t, date::year{2025} / 6 / 30));
  store_->save_solvara(brief());
  EXPECT_EQ(store_->list_reports({}).at(0).created_at, "2025-06-30T07:05:00.042Z");
  EXPECT_EQ(std::get<2>(outbox().at(0))["created_at"], "2025-06-30T07:05:00.042Z");
}

TEST_F(ReportStoreTest, MarkdownFileIsNamedByDateCodeKindAndClient) {
  store_->save_analysis_report(analysis("sh.600000", "2025-06-30_1500", "deepseek"));
  store_->save_summary_report(summary("sh.600000", "2025-06-30"));
  store_->save_solvara(brief("HK", "2025-06-30"));
  const auto dated = dir_.path() / "2025-06-30";
  EXPECT_TRUE(std::filesystem::exists(dated / "sh.600000_analysis_deepseek.md"));
  EXPECT_TRUE(std::filesystem::exists(dated / "sh.600000_summary_deepseek.md"));
  EXPECT_TRUE(std::filesystem::exists(dated / "solvara_HK_deepseek.md"));
  const std::string text = quorvel::testing::read_file(dated / "sh.600000_analysis_deepseek.md");
  EXPECT_NE(text.find("浦发银行"), std::string::npos);
  EXPECT_NE(text.find(analysis().content), std::string::npos);
  EXPECT_EQ(store_->list_reports({}).back().file, "2025-06-30/sh.600000_analysis_deepseek.md");
}

TEST_F(ReportStoreTest, CodesThatLookLikePathsStayInsideTheReportDirectory) {
  const std::string codes[] = {"../../escape", "/etc/passwd", "..", "a/../../b", "名称🚀", "x\\..\\y"};
  for (const std::string& code : codes) store_->save_analysis_report(analysis(code, "../../2025"));
  std::size_t files = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir_.path())) {
    if (e.path().extension() == ".md") ++files;
  }
  EXPECT_EQ(files, std::size(codes));
  EXPECT_FALSE(std::filesystem::exists(dir_.path().parent_path() / "escape_analysis_deepseek.md"));
  for (const auto& r : store_->list_reports({})) {
    ASSERT_TRUE(r.file.has_value()) << r.stock_code;
    EXPECT_TRUE(is_inside(dir_.path(), dir_.path() / *r.file)) << *r.file;
    EXPECT_TRUE(std::filesystem::exists(dir_.path() / *r.file));
  }
}

TEST_F(ReportStoreTest, FailedFileWriteKeepsTheRecordAndIsRepairedLater) {
  // A regular file where the date folder should be makes the Markdown write fail.
  quorvel::testing::write_file(dir_.path() / "2025-06-30", "blocker");
  LogCapture log;
  store_->save_analysis_report(analysis());
  EXPECT_TRUE(log.contains("写 Markdown 文件失败"));
  EXPECT_EQ(store_->list_reports({}).size(), 1u);
  EXPECT_EQ(store_->pending_count(), 1u);
  EXPECT_FALSE(store_->list_reports({}).at(0).file.has_value());
  EXPECT_EQ(store_->write_missing_files().failed, 1u);

  std::filesystem::remove(dir_.path() / "2025-06-30");
  EXPECT_EQ(store_->write_missing_files().written, 1u);
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "2025-06-30" / "sh.600000_analysis_deepseek.md"));
  EXPECT_EQ(store_->write_missing_files().written, 0u);
}

TEST_F(ReportStoreTest, ALateRepairNeverOverwritesANewerReportsFile) {
  quorvel::testing::write_file(dir_.path() / "2025-06-30", "blocker");
  AnalysisReport old_one = analysis();
  old_one.content = "旧的分析";
  store_->save_analysis_report(old_one);
  std::filesystem::remove(dir_.path() / "2025-06-30");
  AnalysisReport new_one = analysis();
  new_one.content = "新的分析";
  store_->save_analysis_report(new_one);
  store_->write_missing_files();
  const std::string text = quorvel::testing::read_file(dir_.path() / "2025-06-30" / "sh.600000_analysis_deepseek.md");
  EXPECT_NE(text.find("新的分析"), std::string::npos);
  EXPECT_EQ(text.find("旧的分析"), std::string::npos);
}

TEST_F(ReportStoreTest, ListFiltersCombine) {
  store_->save_analysis_report(analysis("sh.600000", "2025-06-30"));
  store_->save_analysis_report(analysis("hk.00700", "2025-06-30"));
  store_->save_summary_report(summary("hk.00700", "2025-07-01"));
  store_->save_solvara(brief("HK", "2025-06-30"));
  const auto count = [&](auto&& set) {
    ReportFilter f;
    set(f);
    return store_->list_reports(f).size();
  };
  EXPECT_EQ(count([](ReportFilter&) {}), 4u);
  EXPECT_EQ(count([](ReportFilter& f) { f.code = "hk.00700"; }), 2u);
  EXPECT_EQ(count([](ReportFilter& f) { f.date = "2025-06-30"; }), 3u);
  EXPECT_EQ(count([](ReportFilter& f) { f.market = "hk"; }), 2u);  // summary market comes from its code
  EXPECT_EQ(count([](ReportFilter& f) {
              f.code = "hk.00700";
              f.kind = ReportKind::summary;
            }),
            1u);
  EXPECT_EQ(count([](ReportFilter& f) { f.kind = ReportKind::solvara; }), 1u);
  EXPECT_EQ(count([](ReportFilter& f) { f.code = "' OR 1=1 --"; }), 0u);
  ReportFilter newest;
  newest.limit = 1;
  EXPECT_EQ(store_->list_reports(newest).at(0).kind, ReportKind::solvara);  // newest first
}

TEST_F(ReportStoreTest, FlushWithoutBrokerKeepsMessagesAndSaysSoAtDebugLevel) {
  store_->save_analysis_report(analysis());
  spdlog::level::level_enum before = logger.backend().level();
  logger.backend().set_level(spdlog::level::debug);
  LogCapture log;
  const FlushResult r = store_->flush();
  logger.backend().set_level(before);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.delivered, 0u);
  EXPECT_EQ(r.pending, 1u);
  EXPECT_TRUE(log.contains("QUORVEL_MQ_URL"));
}

TEST_F(ReportStoreTest, FlushMarksDeliveredAndKeepsFailuresWithErrorAndAttempts) {
  store_->save_analysis_report(analysis());
  store_->save_summary_report(summary());
  store_->save_solvara(brief());
  ScriptedPublisher pub;
  pub.answer = [](const OutgoingMessage& m) {
    return m.type == "summary" ? DeliveryOutcome{false, "", "WRONGTYPE"} : DeliveryOutcome{true, "1-1", ""};
  };
  FlushResult r = store_->flush_with(pub);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.delivered, 2u);
  EXPECT_EQ(r.pending, 1u);
  auto pending = store_->pending_messages(10);
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].kind, ReportKind::summary);
  EXPECT_EQ(pending[0].attempts, 1);
  EXPECT_EQ(pending[0].last_error, "WRONGTYPE");

  r = store_->flush_with(pub);  // still refused: attempts count up, nothing else is re-sent
  EXPECT_EQ(store_->pending_messages(10).at(0).attempts, 2);
  EXPECT_EQ(pub.sent.size(), 4u);

  pub.answer = [](const OutgoingMessage&) { return DeliveryOutcome{true, "2-1", ""}; };
  r = store_->flush_with(pub);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.pending, 0u);
  EXPECT_EQ(pub.sent.size(), 5u);
  EXPECT_EQ(pub.sent.back().id, pending[0].id);  // the same id on every attempt
}

TEST_F(ReportStoreTest, LostConnectionEndsTheFlushAndLeavesTheRestPending) {
  StoreOptions o;
  o.directory = dir_.path() / "small-batches";
  o.flush_batch = 4;
  SqlReportStore store(o);
  for (int i = 0; i < 10; ++i) store.save_summary_report(summary("sh.60000" + std::to_string(i)));
  ScriptedPublisher pub;
  pub.lose_connection = [](std::size_t batch) { return batch == 1; };
  const FlushResult r = store.flush_with(pub);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.error, "connection reset");
  EXPECT_EQ(r.delivered, 4u);
  EXPECT_EQ(r.pending, 6u);
  EXPECT_EQ(pub.sent.size(), 8u);  // the third batch was not tried
}

TEST_F(ReportStoreTest, FlushStopsWhenItsTimeIsUp) {
  StoreOptions o;
  o.directory = dir_.path() / "budget";
  o.flush_batch = 1;
  o.flush_budget = std::chrono::milliseconds(0);
  SqlReportStore store(o);
  store.save_solvara(brief());
  ScriptedPublisher pub;
  const FlushResult r = store.flush_with(pub);
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error.find("超时"), std::string::npos);
  EXPECT_EQ(r.pending, 1u);
  EXPECT_TRUE(pub.sent.empty());
}

TEST_F(ReportStoreTest, MessagesSavedDuringAFlushWaitForTheNextOne) {
  store_->save_solvara(brief());
  ScriptedPublisher pub;
  pub.answer = [&](const OutgoingMessage&) {
    store_->save_solvara(brief("US"));  // a writer that never stops
    return DeliveryOutcome{true, "1-0", ""};
  };
  const FlushResult r = store_->flush_with(pub);
  EXPECT_EQ(r.delivered, 1u);
  EXPECT_EQ(r.pending, 1u);
}

TEST_F(ReportStoreTest, ThreadsSharingOneStoreAllSave) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) store_->save_summary_report(summary("sh." + std::to_string(600000 + t * 100 + i)));
    });
  }
  std::thread flusher([&] {
    ScriptedPublisher pub;
    for (int i = 0; i < 5; ++i) store_->flush_with(pub);
  });
  for (auto& th : threads) th.join();
  flusher.join();
  ReportFilter all;
  all.limit = 1000;
  EXPECT_EQ(store_->list_reports(all).size(), 100u);
  EXPECT_EQ(outbox().size(), 100u);
}

TEST_F(ReportStoreTest, ReportsUnderOtherSpellingsOfACodeJoinTheirInstrumentOnOpening) {
  store_->save_analysis_with_summary(analysis("SH.600000"), summary("SH.600000"));
  store_->save_analysis_report(analysis("hk.700"));
  store_.reset();
  auto again = quorvel::testing::open_store(dir_.path());
  EXPECT_TRUE(again->exists("sh.600000", "2025-06-30", "deepseek"));
  ReportFilter all;
  all.code = "hk.00700";
  EXPECT_EQ(again->list_reports(all).size(), 1u);
  EXPECT_EQ(again->write_missing_files().written, 3u);
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "2025-06-30" / "sh.600000_summary_deepseek.md"));
}

TEST_F(ReportStoreTest, ReopeningKeepsEverything) {
  // The plan's checks travel with the analysis: row, message and the file's header.
  AnalysisReport checked = analysis();
  checked.plan_checks = Json::array({Json{{"name", "position_cap"}, {"level", "hard"}, {"passed", false},
                                          {"label", "仓位上限"}, {"detail", "position_pct 30 > 有效上限 10"}}});
  checked.review_required = true;
  store_->save_analysis_with_summary(checked, summary());
  store_ = quorvel::testing::open_store(dir_.path());
  auto& again = store_;
  EXPECT_TRUE(again->exists("sh.600000", "2025-06-30", "deepseek"));
  EXPECT_EQ(again->pending_count(), 2u);
  const auto stored = again->stored_analysis({"sh.600000", "2025-06-30", "deepseek"});
  ASSERT_TRUE(stored);
  EXPECT_TRUE(stored->review_required);
  EXPECT_EQ(stored->plan_checks, *checked.plan_checks);
  const Json payload = std::get<2>(outbox().at(0));
  EXPECT_EQ(payload["plan_checks"], *checked.plan_checks);
  EXPECT_TRUE(payload["review_required"].get<bool>());
  const auto file = dir_.path() / "2025-06-30" / "sh.600000_analysis_deepseek.md";
  EXPECT_NE(quorvel::testing::read_file(file).find("- 需复核: "), std::string::npos);
}

TEST(DefaultReportStore, FollowsReportDirAndInstallsItself) {
  TempDir dir;
  ScopedEnv report_dir("REPORT_DIR", (dir.path() / "nested" / "reports").string());
  ScopedEnv mq("QUORVEL_MQ_URL", std::nullopt);
  auto store = install_default_report_store();
  EXPECT_EQ(&default_storage(), store.get());
  default_storage().save_solvara(brief());
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "nested" / "reports" / DATABASE_FILE_NAME));
  Service<ReportStore>::install(nullptr);
}

TEST(DefaultReportStore, UnusableBrokerUrlStillSavesAndFlushSaysWhy) {
  TempDir dir;
  ScopedEnv mq("QUORVEL_MQ_URL", "http://broker:6379");
  StoreOptions o;
  o.directory = dir.path();
  auto store = make_default_report_store(o);
  store->save_solvara(brief());
  const FlushResult r = store->flush();
  EXPECT_FALSE(r.ok());
  EXPECT_NE(r.error.find("QUORVEL_MQ_URL"), std::string::npos);
  EXPECT_EQ(r.pending, 1u);
}

}  // namespace
}  // namespace quorvel::report
