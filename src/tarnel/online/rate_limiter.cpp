#include "tarnel/online/rate_limiter.h"

#include <algorithm>
#include <thread>

namespace tarnel::online {

RateLimiter::Clock::time_point RateLimiter::reserve(const std::string& host, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto [it, inserted] = next_free_.try_emplace(host, now);
  const Clock::time_point slot = std::max(it->second, now);
  it->second = slot + interval_;
  return slot;
}

void RateLimiter::wait_turn(const std::string& host) {
  const auto slot = reserve(host, Clock::now());
  std::this_thread::sleep_until(slot);
}

std::string url_host(const std::string& url) {
  const auto scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  const auto start = scheme + 3;
  const auto end = url.find_first_of("/?#", start);
  std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  if (const auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  return authority;
}

}  // namespace tarnel::online
