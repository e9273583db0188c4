#pragma once
// The retry policy of the chat client is the shared one in quorvel/utils.
#include "quorvel/utils/retry_policy.h"

namespace quorvel::agent::core {

using quorvel::RetryDecision;
using quorvel::RetryPolicy;
using quorvel::backoff_delay;
using quorvel::decide_retry;
using quorvel::is_retryable_status;
using quorvel::parse_retry_after;

}  // namespace quorvel::agent::core
