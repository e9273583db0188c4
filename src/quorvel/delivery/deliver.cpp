#include "quorvel/delivery/deliver.h"

#include <algorithm>
#include <optional>
#include <random>

#include <fmt/format.h>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "contracts/retry_timer.h"
#include "quorvel/delivery/mail_message.h"
#include "quorvel/delivery/robot_messages.h"
#include "quorvel/utils/http_transport.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/smtp_transport.h"

namespace quorvel::delivery {

namespace {

using std::chrono::milliseconds;

// A webhook's reply is a short JSON document; anything longer is not one.
constexpr std::size_t MAX_WEBHOOK_REPLY_BYTES = 64 * 1024;

struct Attempt {
  bool ok = false;
  bool retryable = false;
  std::string error;
  std::optional<milliseconds> retry_after;
};

struct SendResult {
  bool sent = false;
  int attempts = 0;
  std::string error;
  bool transient = false;  // the last attempt failed for a reason that may pass
};

constexpr const char* STOPPED = "已停止：收到停止请求";

bool stopping(const DeliveryOptions& options) { return options.stop_requested && options.stop_requested(); }

double jitter() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  return std::uniform_real_distribution<double>(0.0, 1.0)(random);
}

Attempt send_webhook(const Channel& channel, const Digest& digest, const DeliveryOptions& options) {
  HttpRequest request = webhook_request(channel, digest, clock().now());
  request.connect_timeout = options.connect_timeout;
  request.total_timeout = options.request_timeout;
  request.max_reply_bytes = MAX_WEBHOOK_REPLY_BYTES;
  const HttpResponse response = http_post(request);
  const ReplyVerdict verdict = judge_reply(channel.kind, response);
  Attempt attempt{verdict.ok, verdict.retryable, verdict.error, std::nullopt};
  if (response.retry_after) attempt.retry_after = parse_retry_after(*response.retry_after, clock().now());
  return attempt;
}

Attempt send_mail(const Channel& channel, const Digest& digest, const DeliveryOptions& options) {
  SmtpRequest request = mail_request(channel, digest, clock().now());
  request.connect_timeout = options.connect_timeout;
  request.total_timeout = options.request_timeout;
  const SmtpResponse response = smtp_send(request);
  if (response.accepted()) return {true, false, {}, std::nullopt};
  // A 4xx reply asks to try again later; a 5xx refusal holds.
  const bool retryable = response.reply_code >= 400 ? response.reply_code < 500
                                                    : response.failure == TransportFailure::timeout ||
                                                          response.failure == TransportFailure::connection;
  return {false, retryable, "邮件发送失败: " + outside_text(response.failure_text), std::nullopt};
}

// Waits `delay`, in short steps when a stop request may come; false when one came.
bool wait_unless_stopped(milliseconds delay, const DeliveryOptions& options) {
  if (!options.stop_requested) {
    retry_timer().sleep_for(delay);
    return true;
  }
  constexpr milliseconds STEP{200};
  for (milliseconds left = delay; left.count() > 0; left -= STEP) {
    if (stopping(options)) return false;
    retry_timer().sleep_for(std::min(left, STEP));
  }
  return !stopping(options);
}

SendResult send_with_retries(const Channel& channel, const Digest& digest, const RetryPolicy& retry,
                             const DeliveryOptions& options) {
  const auto started = retry_timer().now();
  for (int attempt = 1;; ++attempt) {
    if (stopping(options)) return {false, attempt - 1, STOPPED, true};
    const Attempt a = channel.kind == ChannelKind::email ? send_mail(channel, digest, options)
                                                         : send_webhook(channel, digest, options);
    if (a.ok) return {true, attempt, {}, false};
    const auto elapsed = std::chrono::duration_cast<milliseconds>(retry_timer().now() - started);
    const RetryDecision next = decide_retry(retry, a.retryable, attempt, elapsed, a.retry_after, jitter());
    if (!next.retry)
      return {false, attempt, fmt::format("{} (共尝试 {} 次，{})", a.error, attempt, next.stop_reason), a.retryable};
    logger.warning("[推送] %s 第 %d 次发送失败，%.2f 秒后重试: %s", channel.label(), attempt,
                   double(next.delay.count()) / 1000.0, a.error);
    if (!wait_unless_stopped(next.delay, options)) return {false, attempt, a.error + " | " + STOPPED, true};
  }
}

report::DeliveryClaimRules claim_rules(const RetryPolicy& retry, const DeliveryOptions& options) {
  report::DeliveryClaimRules rules = options.claim;
  if (options.take_over_claims) {
    rules.stale_after = milliseconds(0);
    return rules;
  }
  const auto longest_send = std::chrono::duration_cast<milliseconds>(retry.total_budget + options.request_timeout);
  rules.stale_after = std::max(rules.stale_after, 2 * longest_send);
  return rules;
}

// The outcome when the store does not let this run send.
ChannelOutcome not_claimed(const Channel& channel, const report::DeliveryClaim& claim) {
  const report::DeliveryRecord& r = claim.record;
  switch (claim.status) {
    case report::ClaimStatus::already_sent:
      logger.info("[推送] %s 已于 %s 发送过 %s，跳过", channel.label(), r.finished_at, r.digest_id);
      return {channel.name, DeliveryStatus::already_sent, 0,
              fmt::format("已于 {} 发送 {}", r.finished_at, r.digest_id)};
    case report::ClaimStatus::attempts_used:
      logger.warning("[推送] %s 已有 %d 次运行发送失败，不再重试: %s", channel.label(), r.attempts, r.last_error);
      return {channel.name, DeliveryStatus::failed, 0,
              fmt::format("已有 {} 次运行发送失败，不再重试；最近一次: {}", r.attempts, r.last_error)};
    case report::ClaimStatus::claimed:
    case report::ClaimStatus::claimed_elsewhere:
      break;
  }
  logger.info("[推送] %s 正由另一运行发送 (始于 %s)，跳过", channel.label(), r.claimed_at);
  return {channel.name, DeliveryStatus::skipped, 0, fmt::format("另一运行自 {} 起正在发送", r.claimed_at)};
}

ChannelOutcome deliver_one(const Channel& channel, const Digest& digest, report::ReportStore& store,
                           const RetryPolicy& retry, const DeliveryOptions& options) {
  const report::DeliveryKey key{channel.name, digest.edition.empty() ? digest.day : digest.day + " " + digest.edition};
  const report::DeliveryClaimRules rules = claim_rules(retry, options);
  const report::DeliveryClaim claim = store.claim_delivery(key, digest.id, rules);
  if (claim.status != report::ClaimStatus::claimed) return not_claimed(channel, claim);
  if (claim.took_over) logger.warning("[推送] %s: 接手了一次中断的发送，该渠道可能收到两份", channel.label());
  SendResult result;
  try {
    result = send_with_retries(channel, digest, retry, options);
  } catch (const std::exception& e) {
    result.error = outside_text(e.what());
    result.transient = true;
  }
  std::string detail = result.error;
  try {
    if (!store.finish_delivery(key, claim.owner, result.sent, result.error))
      logger.warning("[推送] %s: 发送期间另一运行接手了该渠道，本次结果未记录", channel.label());
  } catch (const std::exception& e) {
    // What was sent stays sent; the claim left behind goes stale and a later run may send again.
    detail += (detail.empty() ? "" : " | ") + ("结果未能记入报告库: " + outside_text(e.what()));
    logger.error("[推送] %s: %s", channel.label(), detail);
  }
  if (result.sent) {
    logger.info("[推送] %s 已发送 %s (尝试 %d 次)", channel.label(), digest.id, result.attempts);
  } else {
    logger.warning("[推送] %s 发送失败: %s", channel.label(), result.error);
  }
  return {channel.name, result.sent ? DeliveryStatus::sent : DeliveryStatus::failed, result.attempts, detail,
          !result.sent && result.transient, claim.record.attempts};
}

void check_digest(const Digest& digest) {
  const bool printable = std::all_of(digest.id.begin(), digest.id.end(), [](char c) { return c > ' ' && c < 0x7F; });
  if (digest.id.empty() || !printable)
    throw ValueError("推送内容的 id 须为不含空格的可打印 ASCII 文本: " + outside_text(digest.id));
  if (digest.day.empty()) throw ValueError("推送内容缺少日期 (day)");
}

}  // namespace

std::string_view status_name(DeliveryStatus status) {
  switch (status) {
    case DeliveryStatus::sent:
      return "sent";
    case DeliveryStatus::already_sent:
      return "already_sent";
    case DeliveryStatus::failed:
      return "failed";
    case DeliveryStatus::skipped:
      return "skipped";
  }
  return "failed";
}

std::vector<ChannelOutcome> deliver_digest(const std::vector<Channel>& channels, const Digest& digest,
                                           report::ReportStore& store, const RetryPolicy& retry,
                                           const DeliveryOptions& options) {
  check_digest(digest);
  std::vector<ChannelOutcome> outcomes;
  for (const Channel& channel : channels) {
    if (stopping(options)) {  // not even claimed: a later run finds it untouched
      outcomes.push_back({channel.name, DeliveryStatus::failed, 0, STOPPED, true, 0});
      continue;
    }
    try {
      outcomes.push_back(deliver_one(channel, digest, store, retry, options));
    } catch (const std::exception& e) {
      // The store itself failed (a locked or damaged database): this channel only.
      const std::string why = outside_text(e.what());
      logger.warning("[推送] %s 无法发送: %s", channel.label(), why);
      outcomes.push_back({channel.name, DeliveryStatus::failed, 0, why, true, 0});
    }
  }
  return outcomes;
}

}  // namespace quorvel::delivery
