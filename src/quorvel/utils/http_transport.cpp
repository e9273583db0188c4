#include "quorvel/utils/http_transport.h"

#include <cctype>
#include <memory>
#include <mutex>
#include <string_view>

#include <curl/curl.h>

namespace quorvel {

namespace {

struct BodySink {
  std::string* body;
  std::size_t limit;
  bool too_large = false;
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  if (sink->body->size() + size * count > sink->limit) {
    sink->too_large = true;
    return 0;  // libcurl stops the transfer
  }
  sink->body->append(data, size * count);
  return size * count;
}

size_t on_header(char* data, size_t size, size_t count, void* user) {
  const std::string_view line(data, size * count);
  constexpr std::string_view name = "retry-after:";
  if (line.size() > name.size()) {
    bool match = true;
    for (size_t i = 0; i < name.size() && match; ++i)
      match = std::tolower(static_cast<unsigned char>(line[i])) == name[i];
    if (match) {
      std::string value(line.substr(name.size()));
      while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
      while (!value.empty() && std::isspace(static_cast<unsigned char>(value.front()))) value.erase(0, 1);
      *static_cast<std::optional<std::string>*>(user) = value;
    }
  }
  return size * count;
}

struct CurlDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

HttpResponse perform(const HttpRequest& request, bool post) {
  init_curl_once();
  HttpResponse response;
  std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
  if (!handle) {
    response.failure = TransportFailure::other;
    response.failure_text = "curl_easy_init failed";
    return response;
  }
  curl_slist* list = nullptr;
  for (const auto& line : request.headers) {
    if (curl_slist* next = curl_slist_append(list, line.c_str())) list = next;
  }
  std::unique_ptr<curl_slist, SlistDeleter> headers(list);
  char error_buffer[CURL_ERROR_SIZE] = {0};
  CURL* h = handle.get();
  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  if (post) {
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  } else {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connect_timeout.count()));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.total_timeout.count()));
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);  // worker threads: no SIGALRM for resolver time-outs
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);  // a redirect would resend the key elsewhere
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
  BodySink sink{&response.body, request.max_reply_bytes};
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &response.retry_after);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_buffer);

  const CURLcode code = curl_easy_perform(h);
  if (sink.too_large) {
    response.failure = TransportFailure::too_large;
    response.failure_text = "回复超过 " + std::to_string(request.max_reply_bytes) + " 字节的上限，已停止接收";
    response.body.clear();
    return response;
  }
  if (code != CURLE_OK) {
    response.failure = transport_failure_of(code);
    response.unreachable = code == CURLE_COULDNT_CONNECT || code == CURLE_COULDNT_RESOLVE_HOST ||
                           code == CURLE_COULDNT_RESOLVE_PROXY;
    response.failure_text = error_buffer[0] ? error_buffer : curl_easy_strerror(code);
    response.body.clear();
    return response;
  }
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
  return response;
}

}  // namespace

void init_curl_once() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpResponse http_post(const HttpRequest& request) { return perform(request, true); }
HttpResponse http_get(const HttpRequest& request) { return perform(request, false); }

TransportFailure transport_failure_of(int curl_code) {
  switch (static_cast<CURLcode>(curl_code)) {
    case CURLE_OPERATION_TIMEDOUT:
      return TransportFailure::timeout;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return TransportFailure::connection;
    default:
      return TransportFailure::other;
  }
}

}  // namespace quorvel
