// Fault sweeps: the disk fails at the n-th write, sync or truncate of a save or of a flush's
// bookkeeping, and the broker fails at the n-th message of a flush, for every n that the operation
// reaches. Whatever fails, nothing stored is half a record, a failure is never reported as success,
// the store stays usable, and every saved message is in the end delivered, each once.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <map>
#include <string>

#include "report/failing_vfs.h"
#include "report/report_fixtures.h"

namespace quorvel::report {
namespace {

using quorvel::testing::analysis;
using quorvel::testing::FailingVfs;
using quorvel::testing::ScriptedPublisher;
using quorvel::testing::TempDir;

std::int64_t count_of(const std::filesystem::path& dir, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open((dir / DATABASE_FILE_NAME).c_str(), &db);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  const std::int64_t n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

// Reports of `code`, each with exactly one message: -1 when a report lacks its message or has two.
std::int64_t whole_records(const std::filesystem::path& dir, const std::string& code) {
  const std::string where = "FROM reports r WHERE r.stock_code = '" + code + "'";
  if (count_of(dir, "SELECT COUNT(*) " + where + " AND (SELECT COUNT(*) FROM outbox o WHERE o.report_id = r.id) != 1"))
    return -1;
  return count_of(dir, "SELECT COUNT(*) " + where);
}

TEST(ReportStoreFaultSweep, ADiskFailureAtAnyPointOfASaveLeavesWholeRecordsOnly) {
  FailingVfs vfs;
  int reached = 0;
  for (int n = 1;; ++n) {
    SCOPED_TRACE("failing I/O call " + std::to_string(n));
    TempDir dir;
    auto store = quorvel::testing::open_store(dir.path());
    store->save_analysis_report(analysis("sh.600000"));
    vfs.fail_at(n);
    bool saved = true;
    try {
      store->save_analysis_report(analysis("sh.600519"));
    } catch (const RuntimeError&) {
      saved = false;
    }
    const bool fired = vfs.fired();
    reached = vfs.calls();
    vfs.fail_at(0);
    if (!fired) {
      EXPECT_TRUE(saved);
      EXPECT_EQ(whole_records(dir.path(), "sh.600519"), 1);
      break;
    }
    // Saved means stored whole; a failed save stored the record whole or not at all.
    const std::int64_t stored = whole_records(dir.path(), "sh.600519");
    if (saved) {
      EXPECT_EQ(stored, 1);
    } else {
      EXPECT_TRUE(stored == 0 || stored == 1) << stored;
    }
    EXPECT_EQ(whole_records(dir.path(), "sh.600000"), 1);
    // The same store goes on: the next save and a flush work, and every stored message goes out once.
    store->save_analysis_report(analysis("hk.00700"));
    EXPECT_EQ(whole_records(dir.path(), "hk.00700"), 1);
    ScriptedPublisher broker;
    store->flush_with(broker);
    EXPECT_EQ(store->pending_count(), 0u);
    EXPECT_EQ(std::int64_t(broker.sent.size()), count_of(dir.path(), "SELECT COUNT(*) FROM outbox"));
    ASSERT_LT(n, 200) << "the save never stopped writing";
  }
  EXPECT_GT(reached, 1);  // the sweep went through every call of a real save
}

TEST(ReportStoreFaultSweep, ADiskFailureWhileRecordingDeliveriesResendsInsteadOfLosing) {
  FailingVfs vfs;
  for (int n = 1;; ++n) {
    SCOPED_TRACE("failing I/O call " + std::to_string(n));
    TempDir dir;
    auto store = quorvel::testing::open_store(dir.path());
    for (const char* code : {"sh.600000", "sh.600519", "hk.00700"}) store->save_analysis_report(analysis(code));
    ScriptedPublisher broker;
    vfs.fail_at(n);
    FlushResult first;
    bool threw = false;
    try {
      first = store->flush_with(broker);
    } catch (const RuntimeError&) {
      threw = true;
    }
    const bool fired = vfs.fired();
    vfs.fail_at(0);
    // A flush that reported success reported what is stored.
    if (!threw && first.ok()) {
      EXPECT_EQ(count_of(dir.path(), "SELECT COUNT(*) FROM outbox WHERE delivered_at IS NULL"),
                std::int64_t(first.pending));
    }
    // Whatever was not recorded as delivered is sent again; none is left behind.
    for (int round = 0; round < 5 && store->pending_count() > 0; ++round) store->flush_with(broker);
    EXPECT_EQ(store->pending_count(), 0u);
    std::map<std::string, int> seen;
    for (const auto& m : broker.sent) ++seen[m.id];
    EXPECT_EQ(seen.size(), 3u);
    if (!fired) break;
    ASSERT_LT(n, 200) << "the flush never stopped writing";
  }
}

TEST(ReportStoreFaultSweep, ABrokerFailureAtAnyMessageOfAFlushIsRetriedUntilDelivered) {
  // 1..4: the broker refuses that message of the batch; 0: the connection drops during the batch.
  for (int failing = 0; failing <= 4; ++failing) {
    SCOPED_TRACE(failing == 0 ? std::string("connection lost") : "message refused: " + std::to_string(failing));
    TempDir dir;
    auto store = quorvel::testing::open_store(dir.path());
    for (const char* code : {"sh.600000", "sh.600519", "hk.00700", "us.AAPL"}) store->save_analysis_report(analysis(code));
    ScriptedPublisher broker;
    int calls = 0;
    broker.answer = [&](const OutgoingMessage&) {
      if (++calls == failing) return DeliveryOutcome{false, "", "NOGROUP broker refused"};
      return DeliveryOutcome{true, std::to_string(calls) + "-0", ""};
    };
    broker.lose_connection = [&](std::size_t batch) { return failing == 0 && batch == 0; };
    // A failure is reported as one, and what was not delivered stays pending.
    const FlushResult first = store->flush_with(broker);
    EXPECT_FALSE(first.ok());
    EXPECT_EQ(first.pending, failing == 0 ? 4u : 1u);
    EXPECT_EQ(first.delivered, failing == 0 ? 0u : 3u);
    broker.lose_connection = [](std::size_t) { return false; };
    EXPECT_TRUE(store->flush_with(broker).ok());
    EXPECT_EQ(store->pending_count(), 0u);
    for (const std::string& line : quorvel::testing::outbox_lines(dir.path()))
      EXPECT_EQ(line.substr(line.find('|'), 3), "|1|") << line;
  }
}

}  // namespace
}  // namespace quorvel::report
