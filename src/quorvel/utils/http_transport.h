#pragma once
// One blocking HTTP exchange over libcurl (GET or POST). Runs on a worker thread; never on the
// event loop. Thread-safe: every call uses its own handle.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// Largest reply body accepted by default: an LLM analysis with its reasoning is tens of kilobytes;
// a reply that keeps coming past this is cut off and reported, never buffered without bound.
inline constexpr std::size_t MAX_REPLY_BYTES = std::size_t(1) << 20;

struct HttpRequest {
  std::string url;
  std::vector<std::string> headers;  // "Name: value"; may carry secrets, never logged
  std::string body;                  // sent by http_post only
  std::chrono::milliseconds connect_timeout{15000};
  std::chrono::milliseconds total_timeout{300000};
  std::size_t max_reply_bytes = MAX_REPLY_BYTES;
};

enum class TransportFailure {
  none,        // an HTTP status arrived
  timeout,     // connect or total time-out
  connection,  // refused, reset, dropped before a complete answer, name not resolved
  other,       // misconfiguration (bad URL, TLS set-up): repeating will not help
  too_large,   // the reply body passed max_reply_bytes; receiving stopped
};

struct HttpResponse {
  TransportFailure failure = TransportFailure::none;
  std::string failure_text;  // libcurl's description when failure != none
  // The server could not be reached at all (name not resolved, connection refused or no route):
  // a finer reading of `connection` for callers that stop asking an unreachable host.
  bool unreachable = false;
  long status = 0;
  std::string body;  // empty whenever failure != none: a half-received body is never handed on
  std::optional<std::string> retry_after;  // the Retry-After header, when sent
};

HttpResponse http_post(const HttpRequest& request);
HttpResponse http_get(const HttpRequest& request);

// libcurl's process-wide set-up, done once before the first transfer of any transport.
void init_curl_once();

// The failure a libcurl result code (a CURLcode other than CURLE_OK) stands for, whatever the protocol.
TransportFailure transport_failure_of(int curl_code);

}  // namespace quorvel
