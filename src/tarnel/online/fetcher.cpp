#include "tarnel/online/fetcher.h"

#include <random>

#include <fmt/format.h>

#include "contracts/clock.h"
#include "contracts/retry_timer.h"
#include "quorvel/utils/logger.h"

namespace tarnel::online {

namespace {

double jitter() {
  thread_local std::mt19937 engine{std::random_device{}()};
  return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
}

std::string describe(const quorvel::HttpResponse& r) {
  if (r.failure == quorvel::TransportFailure::none) return fmt::format("HTTP {}", r.status);
  return r.failure_text;
}

bool retryable(const quorvel::HttpResponse& r) {
  switch (r.failure) {
    case quorvel::TransportFailure::none: return quorvel::is_retryable_status(r.status);
    case quorvel::TransportFailure::timeout:
    case quorvel::TransportFailure::connection: return !r.unreachable;
    default: return false;
  }
}

}  // namespace

Fetcher::Fetcher(FetchPolicy policy, Transport transport)
    : policy_(policy), transport_(std::move(transport)), limiter_(policy.min_interval) {}

bool Fetcher::host_down(const std::string& host) {
  std::lock_guard lock(mutex_);
  return down_hosts_.count(host) > 0;
}

void Fetcher::mark_down(const std::string& host, const std::string& why) {
  {
    std::lock_guard lock(mutex_);
    if (!down_hosts_.insert(host).second) return;
  }
  quorvel::logger.warning("行情源 %s 无法连接（%s）：本次运行不再访问它，使用本地已有数据", host, why);
}

FetchResult Fetcher::get(const std::string& url, const std::vector<std::string>& headers) {
  const std::string host = url_host(url);
  FetchResult result;
  if (host_down(host)) {
    result.unreachable = true;
    result.failure = host + " 无法连接";
    return result;
  }
  quorvel::HttpRequest request{url, headers, "", policy_.connect_timeout, policy_.total_timeout,
                               policy_.max_reply_bytes};
  const auto started = quorvel::retry_timer().now();
  for (int attempt = 1;; ++attempt) {
    limiter_.wait_turn(host);
    quorvel::HttpResponse response = transport_(request);
    result.status = response.status;
    if (response.failure == quorvel::TransportFailure::none && response.status == 200) {
      result.ok = true;
      result.body = std::move(response.body);
      return result;
    }
    result.failure = describe(response);
    if (response.unreachable) {
      result.unreachable = true;
      mark_down(host, result.failure);
      return result;
    }
    std::optional<std::chrono::milliseconds> retry_after;
    if (response.retry_after) retry_after = quorvel::parse_retry_after(*response.retry_after, quorvel::clock().now());
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(quorvel::retry_timer().now() - started);
    const quorvel::RetryDecision next =
        quorvel::decide_retry(policy_.retry, retryable(response), attempt, elapsed, retry_after, jitter());
    if (!next.retry) {
      quorvel::logger.warning("行情源 %s 请求失败（%s，共尝试 %d 次，%s）", host, result.failure, attempt, next.stop_reason);
      return result;
    }
    quorvel::retry_timer().sleep_for(next.delay);
  }
}

}  // namespace tarnel::online
