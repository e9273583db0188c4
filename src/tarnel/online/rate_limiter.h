#pragma once
// A per-host request rate limit: requests to one host are spaced at least `interval` apart, across
// all threads of the process. Thread-safe.
#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace tarnel::online {

class RateLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  explicit RateLimiter(Clock::duration interval) : interval_(interval) {}

  // Reserves the next free slot for `host` at or after `now` and returns its start: the caller
  // sends its request then (sleeping until it comes).
  Clock::time_point reserve(const std::string& host, Clock::time_point now);
  // Reserves a slot and sleeps until it starts.
  void wait_turn(const std::string& host);

 private:
  Clock::duration interval_;
  std::mutex mutex_;
  std::map<std::string, Clock::time_point> next_free_;
};

// "host:port" of an http(s) URL ("127.0.0.1:8080", "example.org"); the URL itself when it has no
// scheme.
std::string url_host(const std::string& url);

}  // namespace tarnel::online
