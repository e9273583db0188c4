#pragma once
// HTTP GETs for the market-data providers: connect and total time-outs, a per-host rate limit,
// bounded retries with exponential backoff on 429, 5xx, time-outs and dropped connections
// (honouring Retry-After), and a clear log line for every request that finally fails. A host that
// cannot be reached at all (name not resolved, connection refused) is not asked again by this
// process, so that working without a network costs no time. Thread-safe.
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "quorvel/utils/http_transport.h"
#include "quorvel/utils/retry_policy.h"
#include "tarnel/online/rate_limiter.h"

namespace tarnel::online {

struct FetchPolicy {
  std::chrono::milliseconds connect_timeout{3000};
  std::chrono::milliseconds total_timeout{20000};
  // Free K-line hosts start refusing clients that ask faster than a few requests a second.
  std::chrono::milliseconds min_interval{300};
  quorvel::RetryPolicy retry{3, std::chrono::milliseconds(500), std::chrono::milliseconds(4000),
                             std::chrono::milliseconds(20000)};
  std::size_t max_reply_bytes = std::size_t(16) << 20;  // ~30 years of daily bars in the largest layout
};

struct FetchResult {
  bool ok = false;        // HTTP 200 with a complete body
  long status = 0;        // last HTTP status (0 when none arrived)
  std::string body;       // set when ok
  std::string failure;    // why not ok
  bool unreachable = false;  // the host could not be reached (now or earlier in this process)
};

class Fetcher {
 public:
  using Transport = std::function<quorvel::HttpResponse(const quorvel::HttpRequest&)>;
  explicit Fetcher(FetchPolicy policy, Transport transport = quorvel::http_get);

  FetchResult get(const std::string& url, const std::vector<std::string>& headers = {});
  const FetchPolicy& policy() const { return policy_; }

 private:
  bool host_down(const std::string& host);
  void mark_down(const std::string& host, const std::string& why);

  FetchPolicy policy_;
  Transport transport_;
  RateLimiter limiter_;
  std::mutex mutex_;
  std::set<std::string> down_hosts_;
};

}  // namespace tarnel::online
