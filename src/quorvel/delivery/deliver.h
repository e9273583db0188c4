#pragma once
// Delivery of a day's digest to the configured channels, each channel at most once per day.
//
// For each channel in turn: claim (channel, day) in the report store (ReportStore::claim_delivery),
// send, record the outcome. A send is repeated with exponential backoff after a time-out, a dropped
// connection, a 5xx or a 429 (waiting at least as long as Retry-After asks) and after a robot's
// "too fast" reply or a mail server's 4xx; any other refusal ends it at once. Channels are
// independent: one that fails, or whose store access fails, does not keep the others from their
// digest. Waits go through the retry timer service (contracts/retry_timer.h).
//
// Blocking (HTTP and SMTP exchanges, the report store, retry waits): a coroutine calls it through
// run_blocking (blocking.h). Thread-safe when the store is.
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "contracts/report_store.h"
#include "quorvel/delivery/channels.h"
#include "quorvel/delivery/digest.h"
#include "quorvel/utils/retry_policy.h"

namespace quorvel::delivery {

enum class DeliveryStatus {
  sent,          // this run sent it
  already_sent,  // an earlier run sent it today
  failed,        // this run could not send it, or today's runs have all failed
  skipped,       // another run is sending it right now
};

std::string_view status_name(DeliveryStatus status);  // "sent", "already_sent", "failed", "skipped"

struct ChannelOutcome {
  std::string channel;  // the channel's name
  DeliveryStatus status = DeliveryStatus::failed;
  int attempts = 0;    // sends this run made
  std::string detail;  // failed: why, secrets masked; already_sent and skipped: what the store holds
  // failed: for a reason that may pass by itself (a time-out, a dropped connection, a 5xx, a 429, a
  // robot's "too fast", the report store being unusable), not a refusal repetition cannot fix.
  bool transient = false;
  int runs = 0;  // runs that took this delivery in hand, this one included (0 when the store refused)
};

// A robot or mail server that is down for a moment gets four tries within two minutes.
inline constexpr RetryPolicy DELIVERY_RETRY{4, std::chrono::seconds(2), std::chrono::seconds(30),
                                            std::chrono::minutes(2)};

struct DeliveryOptions {
  // The claim goes stale after at least twice the time a live run can spend on one channel (the
  // retry budget and one more request), whatever is set here.
  report::DeliveryClaimRules claim;
  std::chrono::milliseconds connect_timeout{std::chrono::seconds(10)};
  std::chrono::milliseconds request_timeout{std::chrono::seconds(30)};  // one attempt, reply included
  // The caller knows that no other run is sending this digest now (a restarted consumer taking up
  // the entries it was handling when it died): a claim left behind is taken over at once, not only
  // once stale. The channel may then get that digest twice.
  bool take_over_claims = false;
  // Polled before each attempt and during the waits between attempts: true ends the channel's
  // sends (failed, transient) and leaves the later channels unsent the same way, so that a stop
  // request waits at most for the request under way.
  std::function<bool()> stop_requested;
};

// Throws ValueError when the digest has no day, or an id that is empty or not printable ASCII
// without spaces (it travels in headers); every other failure is a channel's outcome.
std::vector<ChannelOutcome> deliver_digest(const std::vector<Channel>& channels, const Digest& digest,
                                           report::ReportStore& store, const RetryPolicy& retry = DELIVERY_RETRY,
                                           const DeliveryOptions& options = {});

}  // namespace quorvel::delivery
