#include "quorvel/agent/core/retry_policy.h"

#include <gtest/gtest.h>

namespace quorvel::agent::core {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(RetryPolicy, OnlyRateLimitsAndServerErrorsAreRetryable) {
  for (long status : {429L, 500L, 502L, 503L, 504L, 599L}) EXPECT_TRUE(is_retryable_status(status)) << status;
  for (long status : {200L, 400L, 401L, 402L, 403L, 404L, 408L, 422L}) EXPECT_FALSE(is_retryable_status(status)) << status;
}

TEST(RetryPolicy, RetryAfterAcceptsSecondsAndHttpDates) {
  const auto now = std::chrono::system_clock::from_time_t(1700000000);  // Tue, 14 Nov 2023 22:13:20 GMT
  EXPECT_EQ(parse_retry_after("7", now), milliseconds(7000));
  EXPECT_EQ(parse_retry_after(" 0 ", now), milliseconds(0));
  EXPECT_EQ(parse_retry_after("Tue, 14 Nov 2023 22:13:50 GMT", now), milliseconds(30000));
  EXPECT_EQ(parse_retry_after("Tue, 14 Nov 2023 22:00:00 GMT", now), milliseconds(0));
  EXPECT_EQ(parse_retry_after("99999999999", now), milliseconds(86400LL * 1000));
  EXPECT_FALSE(parse_retry_after("", now));
  EXPECT_FALSE(parse_retry_after("-3", now));
  EXPECT_FALSE(parse_retry_after("soon", now));
}

TEST(RetryPolicy, BackoffDoublesUpToTheCapWithJitterInTheUpperHalf) {
  RetryPolicy p;
  p.base_delay = milliseconds(100);
  p.max_delay = milliseconds(1000);
  EXPECT_EQ(backoff_delay(p, 1, 1.0), milliseconds(100));
  EXPECT_EQ(backoff_delay(p, 2, 1.0), milliseconds(200));
  EXPECT_EQ(backoff_delay(p, 3, 1.0), milliseconds(400));
  EXPECT_EQ(backoff_delay(p, 5, 1.0), milliseconds(1000));
  EXPECT_EQ(backoff_delay(p, 60, 1.0), milliseconds(1000));
  EXPECT_EQ(backoff_delay(p, 2, 0.0), milliseconds(100));
  EXPECT_EQ(backoff_delay(p, 2, 0.5), milliseconds(150));
}

TEST(RetryPolicy, DecisionStopsOnPermanentErrorsAttemptBoundAndBudget) {
  RetryPolicy p;
  p.max_attempts = 3;
  p.base_delay = milliseconds(100);
  p.max_delay = milliseconds(1000);
  p.total_budget = seconds(10);

  EXPECT_FALSE(decide_retry(p, false, 1, milliseconds(0), std::nullopt, 0.5).retry);

  auto d = decide_retry(p, true, 1, milliseconds(0), std::nullopt, 1.0);
  EXPECT_TRUE(d.retry);
  EXPECT_EQ(d.delay, milliseconds(100));

  d = decide_retry(p, true, 3, milliseconds(0), std::nullopt, 1.0);
  EXPECT_FALSE(d.retry);
  EXPECT_NE(d.stop_reason.find("3"), std::string::npos);

  d = decide_retry(p, true, 1, milliseconds(9950), std::nullopt, 1.0);
  EXPECT_FALSE(d.retry);
  EXPECT_NE(d.stop_reason.find("总时长上限"), std::string::npos);
}

TEST(RetryPolicy, RetryAfterLengthensButNeverShortensTheWait) {
  RetryPolicy p;
  p.base_delay = milliseconds(2000);
  EXPECT_EQ(decide_retry(p, true, 1, milliseconds(0), milliseconds(5000), 1.0).delay, milliseconds(5000));
  EXPECT_EQ(decide_retry(p, true, 1, milliseconds(0), milliseconds(10), 1.0).delay, milliseconds(2000));
}

}  // namespace
}  // namespace quorvel::agent::core
