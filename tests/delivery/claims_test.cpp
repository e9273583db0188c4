// Each channel gets a day's digest once: a rerun sends only what is not sent yet, overlapping runs
// cannot both claim a delivery, and the store keeps its claim rules (failed runs, stale claims).
#include <latch>
#include <set>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "contracts/clock.h"
#include "delivery/delivery_fixtures.h"
#include "support/virtual_retry_timer.h"

namespace quorvel::delivery {
namespace {

using namespace std::chrono_literals;
using quorvel::testing::TempDir;
using report::ClaimStatus;

TEST(DeliveryClaims, ARerunSendsOnlyWhatIsNotSentYet) {
  TempDir dir;
  auto store = quorvel::testing::delivery_store(dir);
  const auto ok = quorvel::testing::webhook_ok();
  // Channel a's first send fails; b goes out all the same.
  quorvel::testing::FakeKlineServer server(quorvel::testing::scripted_replies({{400, "no", {}, {}, false}, ok, ok}));
  Service<RetryTimer>::Guard timer{std::make_shared<quorvel::testing::VirtualRetryTimer>()};
  const std::vector<Channel> channels{
      quorvel::testing::channel_of(R"({"name": "a", "type": "json", "url": ")" + server.base_url() + "/a\"}"),
      quorvel::testing::channel_of(R"({"name": "b", "type": "json", "url": ")" + server.base_url() + "/b\"}")};
  std::vector<DeliveryStatus> got;
  for (int run = 0; run < 2; ++run)
    for (const auto& o : deliver_digest(channels, quorvel::testing::sample_digest(), *store)) got.push_back(o.status);
  EXPECT_EQ(got, (std::vector{DeliveryStatus::failed, DeliveryStatus::sent, DeliveryStatus::sent,
                              DeliveryStatus::already_sent}));
  ASSERT_EQ(server.request_count(), 3u);
  EXPECT_EQ(server.requests()[2].path, "/a");
  const auto rows = store->deliveries("2023-02-10");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].state, report::DeliveryState::sent);
  EXPECT_EQ(rows[0].attempts, 2);
}

TEST(DeliveryClaims, OfTwoOverlappingRunsOnlyOneClaimsADelivery) {
  TempDir dir;
  // Two connections to one database, as two processes have.
  std::shared_ptr<report::SqlReportStore> stores[] = {quorvel::testing::delivery_store(dir),
                                                         quorvel::testing::delivery_store(dir)};
  for (int day = 1; day <= 20; ++day) {
    const report::DeliveryKey key{"desk", fmt::format("2023-03-{:02}", day)};
    std::latch start(2);
    ClaimStatus got[2];
    const auto run = [&](int i) {
      start.arrive_and_wait();
      got[i] = stores[i]->claim_delivery(key, "digest", {}).status;
    };
    std::thread a(run, 0), b(run, 1);
    a.join();
    b.join();
    EXPECT_EQ(std::set<ClaimStatus>({got[0], got[1]}), (std::set{ClaimStatus::claimed, ClaimStatus::claimed_elsewhere}))
        << key.day;
  }
}

TEST(DeliveryClaims, TheStoreClaimsByItsRules) {
  enum class Step { fail, send, hold };
  const struct {
    const char* name;
    std::vector<Step> before;
    std::chrono::minutes later;  // when the next run claims
    ClaimStatus status;
    int attempts;
    bool took_over;
  } rows[] = {
      {"failed once", {Step::fail}, 1min, ClaimStatus::claimed, 2, false},
      {"failed in every run allowed", {Step::fail, Step::fail}, 1min, ClaimStatus::attempts_used, 2, false},
      {"held by a live run", {Step::hold}, 14min, ClaimStatus::claimed_elsewhere, 1, false},
      {"held by a run that died", {Step::hold}, 16min, ClaimStatus::claimed, 2, true},
      {"sent", {Step::send}, 1min, ClaimStatus::already_sent, 1, false},
  };
  TempDir dir;
  auto store = quorvel::testing::delivery_store(dir);
  const report::DeliveryClaimRules rules{2, 15min};
  const std::chrono::system_clock::time_point t0 = date::sys_days{date::year{2023} / 2 / 10} + 10h;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const report::DeliveryKey key{row.name, "2023-02-10"};
    std::string owner;
    {
      Service<Clock>::Guard at_start{std::make_shared<FixedClock>(t0, date::year{2023} / 2 / 10)};
      for (const Step step : row.before) {
        owner = store->claim_delivery(key, "first", rules).owner;
        if (step != Step::hold) {
          EXPECT_TRUE(store->finish_delivery(key, owner, step == Step::send, "HTTP 500"));
        }
      }
    }
    Service<Clock>::Guard later{std::make_shared<FixedClock>(t0 + row.later, date::year{2023} / 2 / 10)};
    const auto claim = store->claim_delivery(key, "second", rules);
    EXPECT_EQ(claim.status, row.status);
    EXPECT_EQ(claim.record.attempts, row.attempts);
    EXPECT_EQ(claim.took_over, row.took_over);
    EXPECT_EQ(claim.record.digest_id, row.status == ClaimStatus::claimed ? "second" : "first");
    // A run whose claim was taken over records nothing.
    if (row.before.back() == Step::hold) {
      EXPECT_EQ(store->finish_delivery(key, owner, true, ""), !row.took_over);
    }
  }
}

}  // namespace
}  // namespace quorvel::delivery
