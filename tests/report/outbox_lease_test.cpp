// Claims on outbox messages: a flusher leases each batch before sending it, a crashed flusher's
// lease runs out, and only the holder of a lease records what became of its messages.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "report/report_fixtures.h"

namespace quorvel::report {
namespace {

using namespace std::chrono_literals;
using quorvel::testing::open_store;
using quorvel::testing::outbox_lines;
using quorvel::testing::ScriptedPublisher;
using quorvel::testing::summary;
using quorvel::testing::TempDir;

// Thrown out of a publisher to leave a flush the way a killed process does: its claims stay behind.
struct Crash {};

class OutboxLeaseTest : public ::testing::Test {
 protected:
  std::shared_ptr<SqlReportStore> store_with(const TempDir& dir, int messages) {
    auto store = open_store(dir.path());
    for (int i = 0; i < messages; ++i) store->save_summary_report(summary("sh." + std::to_string(600000 + i)));
    return store;
  }
  std::shared_ptr<quorvel::testing::ManualClock> clock_ = std::make_shared<quorvel::testing::ManualClock>();
  Service<Clock>::Guard pin_{clock_};
};

TEST_F(OutboxLeaseTest, ACrashedFlushersBatchWaitsForItsLeaseToRunOut) {
  const struct {
    std::chrono::milliseconds later;
    std::size_t taken_over;
  } rows[] = {{1ms, 0}, {DEFAULT_OUTBOX_LEASE - 1ms, 0}, {DEFAULT_OUTBOX_LEASE, 5}, {DEFAULT_OUTBOX_LEASE + 1h, 5}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.later.count());
    TempDir dir;
    ScriptedPublisher crashing;
    crashing.answer = [](const OutgoingMessage&) -> DeliveryOutcome { throw Crash{}; };
    EXPECT_THROW(store_with(dir, 5)->flush_with(crashing), Crash);
    clock_->advance(row.later);
    ScriptedPublisher next;
    const FlushResult r = open_store(dir.path())->flush_with(next);
    EXPECT_EQ(next.sent.size(), row.taken_over);
    EXPECT_EQ(r.pending, 5 - row.taken_over);
  }
}

TEST_F(OutboxLeaseTest, OnlyTheLeaseHolderRecordsWhatBecameOfAMessage) {
  // A slow flusher outlives its lease; another takes the batch over and delivers it; then the slow
  // one comes back with its own outcome, which must change nothing.
  for (const DeliveryOutcome& late : {DeliveryOutcome{true, "9-9", ""}, DeliveryOutcome{false, "", "timeout"}}) {
    SCOPED_TRACE(late.delivered);
    TempDir dir;
    auto slow = store_with(dir, 3);
    ScriptedPublisher fast;
    FlushResult taken_over;
    ScriptedPublisher stalled;
    stalled.answer = [&](const OutgoingMessage&) {
      if (stalled.sent.size() == 1) {
        clock_->advance(DEFAULT_OUTBOX_LEASE + 1s);
        taken_over = open_store(dir.path())->flush_with(fast);
      }
      return late;
    };
    const FlushResult r = slow->flush_with(stalled);
    EXPECT_EQ(taken_over.delivered, 3u);
    EXPECT_EQ(r.delivered, 0u);
    for (const std::string& line : outbox_lines(dir.path())) EXPECT_EQ(line.substr(36), "|1|1-0|1|");
  }
}

TEST_F(OutboxLeaseTest, AnOlderDatabaseIsUpgradedWithEveryRowKept) {
  TempDir dir;
  ScriptedPublisher first_only;
  first_only.answer = [&](const OutgoingMessage&) {
    return DeliveryOutcome{first_only.sent.size() == 1, "1-0", "refused"};
  };
  store_with(dir, 3)->flush_with(first_only);
  // The layout before claims: the same tables without the claim columns.
  sqlite3* db = nullptr;
  sqlite3_open((dir.path() / DATABASE_FILE_NAME).c_str(), &db);
  const int rc = sqlite3_exec(
      db,
      "ALTER TABLE outbox DROP COLUMN claimed_by; ALTER TABLE outbox DROP COLUMN lease_until; PRAGMA user_version=1",
      nullptr, nullptr, nullptr);
  sqlite3_close(db);
  ASSERT_EQ(rc, SQLITE_OK) << "no claim columns to take away";
  const std::vector<std::string> before = outbox_lines(dir.path());

  auto store = open_store(dir.path());
  EXPECT_EQ(outbox_lines(dir.path()), before);
  ScriptedPublisher rest;
  EXPECT_EQ(store->flush_with(rest).delivered, 2u);
  EXPECT_EQ(store->pending_count(), 0u);
}

}  // namespace
}  // namespace quorvel::report
