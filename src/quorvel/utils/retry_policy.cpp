#include "quorvel/utils/retry_policy.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>

#include <curl/curl.h>

namespace quorvel {

using std::chrono::milliseconds;

bool is_retryable_status(long status) { return status == 429 || (status >= 500 && status <= 599); }

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<milliseconds> parse_retry_after(std::string_view value, std::chrono::system_clock::time_point now) {
  value = trim(value);
  if (value.empty()) return std::nullopt;
  if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    long long seconds = 0;
    const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (ec != std::errc() || ptr != value.data() + value.size()) return std::nullopt;
    // A day is far beyond any budget; clamping keeps the arithmetic safe.
    return milliseconds(std::min(seconds, 86400LL) * 1000);
  }
  // curl_getdate understands the three HTTP date forms; it is a pure parser.
  const std::string text(value);
  const time_t when = curl_getdate(text.c_str(), nullptr);
  if (when < 0) return std::nullopt;
  const auto at = std::chrono::system_clock::from_time_t(when);
  if (at <= now) return milliseconds(0);
  return std::min(std::chrono::duration_cast<milliseconds>(at - now), milliseconds(86400LL * 1000));
}

milliseconds backoff_delay(const RetryPolicy& policy, int failures, double jitter) {
  const int exponent = std::clamp(failures - 1, 0, 30);
  const double full = std::min<double>(static_cast<double>(policy.max_delay.count()),
                                       static_cast<double>(policy.base_delay.count()) * double(1LL << exponent));
  const double j = std::clamp(jitter, 0.0, 1.0);
  return milliseconds(static_cast<long long>(full / 2.0 + full / 2.0 * j));
}

RetryDecision decide_retry(const RetryPolicy& policy, bool retryable, int attempts, milliseconds elapsed,
                           std::optional<milliseconds> retry_after, double jitter) {
  RetryDecision d;
  if (!retryable) {
    d.stop_reason = "错误不可重试";
    return d;
  }
  if (attempts >= policy.max_attempts) {
    d.stop_reason = "已达最大尝试次数 " + std::to_string(policy.max_attempts);
    return d;
  }
  milliseconds delay = backoff_delay(policy, attempts, jitter);
  if (retry_after && *retry_after > delay) delay = *retry_after;
  if (elapsed + delay > policy.total_budget) {
    d.stop_reason = "重试等待将超出总时长上限 " + std::to_string(policy.total_budget.count() / 1000) + "s";
    return d;
  }
  d.retry = true;
  d.delay = delay;
  return d;
}

}  // namespace quorvel
