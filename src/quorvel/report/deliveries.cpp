// The delivery side of the report store: claims on (channel, day) that let one run send the daily
// digest to a channel, and what each run recorded.
#include <string>
#include <vector>

#include <fmt/format.h>

#include "contracts/clock.h"
#include "quorvel/report/message.h"
#include "quorvel/report/sql_report_store.h"
#include "quorvel/utils/outside_text.h"

namespace quorvel::report {

namespace {

constexpr const char* DELIVERY_COLUMNS =
    "channel, day, digest_id, state, attempts, last_error, claimed_at, finished_at";

DeliveryState parse_state(const std::string& text) {
  if (text == "sent") return DeliveryState::sent;
  if (text == "failed") return DeliveryState::failed;
  return DeliveryState::claimed;
}

DeliveryRecord read_record(const Statement& s) {
  DeliveryRecord r;
  r.channel = s.text(0);
  r.day = s.text(1);
  r.digest_id = s.text(2);
  r.state = parse_state(s.text(3));
  r.attempts = int(s.integer(4));
  r.last_error = s.text(5);
  r.claimed_at = s.text(6);
  r.finished_at = s.text(7);
  return r;
}

// Why a run may not claim `found` now; nothing when it may. Sets `took_over` for a stale claim.
std::optional<ClaimStatus> refusal(const DeliveryRecord& found, const DeliveryClaimRules& rules,
                                   const std::string& stale_before, bool& took_over) {
  if (found.state == DeliveryState::sent) return ClaimStatus::already_sent;
  // ISO times of one layout order like the instants they name.
  if (found.state == DeliveryState::claimed && found.claimed_at > stale_before) return ClaimStatus::claimed_elsewhere;
  if (found.attempts >= rules.max_attempts) return ClaimStatus::attempts_used;
  took_over = found.state == DeliveryState::claimed;
  return std::nullopt;
}

}  // namespace

std::optional<DeliveryRecord> SqlReportStore::read_delivery(const DeliveryKey& key) {
  Statement s =
      db_->prepare(fmt::format("SELECT {} FROM deliveries WHERE channel = ?1 AND day = ?2", DELIVERY_COLUMNS));
  s.bind(1, key.channel).bind(2, key.day);
  if (!s.step()) return std::nullopt;
  return read_record(s);
}

bool SqlReportStore::held_by(const DeliveryKey& key, const std::string& owner) {
  Statement s = db_->prepare("SELECT 1 FROM deliveries WHERE channel = ?1 AND day = ?2 AND owner = ?3");
  s.bind(1, key.channel).bind(2, key.day).bind(3, owner);
  return s.step();
}

DeliveryClaim SqlReportStore::claim_delivery(const DeliveryKey& key, const std::string& digest_id,
                                             const DeliveryClaimRules& rules) {
  const std::string owner = new_message_id();
  return locked([&](bool retried) {
    // The database's clock: the claims of machines whose own clocks disagree are compared fairly.
    const auto now = std::chrono::system_clock::time_point(std::chrono::milliseconds(db_->now_ms()));
    const std::string at = iso_utc(now);
    const std::string stale_before = iso_utc(now - rules.stale_after);
    DeliveryClaim claim;
    // The row is read and written under the claimers' lock, so a second run waits here and then
    // finds the first run's claim.
    Transaction tx(*db_);
    db_->lock_for_claims("deliveries");
    if (retried && held_by(key, owner)) {
      // The claim committed just before the connection broke: it is this run's.
      claim.owner = owner;
      claim.record = read_delivery(key).value_or(DeliveryRecord{});
      claim.status = ClaimStatus::claimed;
      return claim;
    }
    if (const auto found = read_delivery(key)) {
      claim.record = *found;
      if (const auto refused = refusal(*found, rules, stale_before, claim.took_over)) {
        claim.status = *refused;
        return claim;
      }
    }
    claim.owner = owner;
    Statement s = db_->prepare(
        "INSERT INTO deliveries (channel, day, digest_id, state, attempts, claimed_at, owner) "
        "VALUES (?1, ?2, ?3, 'claimed', 1, ?4, ?5) ON CONFLICT (channel, day) DO UPDATE SET "
        "digest_id = excluded.digest_id, state = 'claimed', attempts = deliveries.attempts + 1, "
        "claimed_at = excluded.claimed_at, finished_at = NULL, owner = excluded.owner");
    s.bind(1, key.channel).bind(2, key.day).bind(3, digest_id).bind(4, at).bind(5, claim.owner).run();
    claim.record = read_delivery(key).value_or(DeliveryRecord{});
    tx.commit();
    claim.status = ClaimStatus::claimed;
    return claim;
  });
}

bool SqlReportStore::finish_delivery(const DeliveryKey& key, const std::string& owner, bool sent,
                                     const std::string& error) {
  const std::string finished = iso_utc(clock().now());
  const std::string state(delivery_state_name(sent ? DeliveryState::sent : DeliveryState::failed));
  return locked([&](bool retried) {
    Statement s = db_->prepare(
        "UPDATE deliveries SET state = ?1, last_error = ?2, finished_at = ?3, owner = NULL "
        "WHERE channel = ?4 AND day = ?5 AND owner = ?6 AND state = 'claimed'");
    s.bind(1, state);
    s.bind_optional(2, sent ? std::nullopt : std::optional<std::string>(outside_text(error)));
    s.bind(3, finished).bind(4, key.channel).bind(5, key.day).bind(6, owner).run();
    if (s.changes() > 0) return true;
    if (!retried) return false;
    // The update committed just before the connection broke: the row shows this run's outcome.
    Statement done = db_->prepare(
        "SELECT 1 FROM deliveries WHERE channel = ?1 AND day = ?2 AND state = ?3 AND finished_at = ?4 AND owner IS "
        "NULL");
    done.bind(1, key.channel).bind(2, key.day).bind(3, state).bind(4, finished);
    return done.step();
  });
}

std::vector<DeliveryRecord> SqlReportStore::deliveries(const std::string& day) {
  return locked([&](bool) {
    Statement s = db_->prepare(
        fmt::format("SELECT {} FROM deliveries WHERE day = ?1 OR substr(day, 1, length(?1) + 1) = ?1 || ' ' "
                    "ORDER BY channel, day",
                    DELIVERY_COLUMNS));
    s.bind(1, day);
    std::vector<DeliveryRecord> out;
    while (s.step()) out.push_back(read_record(s));
    return out;
  });
}

}  // namespace quorvel::report
