#include "quorvel/utils/url_parts.h"

#include <memory>

#include <arpa/inet.h>
#include <curl/curl.h>

#include "quorvel/utils/text.h"

namespace quorvel {

namespace {

struct UrlDeleter {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

// The part of `url`, or nothing when the URL has none.
std::optional<std::string> part(CURLU* url, CURLUPart which, unsigned flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, which, &text, flags) != CURLUE_OK || !text) return std::nullopt;
  std::string out(text);
  curl_free(text);
  return out;
}

std::string unescaped(std::string_view text) {
  int length = 0;
  char* raw = curl_easy_unescape(nullptr, text.data(), int(text.size()), &length);
  if (!raw) return std::string(text);
  std::string out(raw, std::size_t(length));
  curl_free(raw);
  return out;
}

std::vector<std::pair<std::string, std::string>> split_query(std::string_view query) {
  std::vector<std::pair<std::string, std::string>> out;
  while (!query.empty()) {
    const auto end = query.find('&');
    const std::string_view item = query.substr(0, end);
    if (!item.empty()) {
      const auto eq = item.find('=');
      out.emplace_back(unescaped(item.substr(0, eq)),
                       eq == std::string_view::npos ? std::string() : unescaped(item.substr(eq + 1)));
    }
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
  return out;
}

}  // namespace

std::string UrlParts::authority() const { return port ? host + ":" + std::to_string(port) : host; }

std::optional<UrlParts> parse_url(const std::string& url) {
  std::unique_ptr<CURLU, UrlDeleter> handle(curl_url());
  if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return std::nullopt;
  UrlParts out;
  const auto scheme = part(handle.get(), CURLUPART_SCHEME);
  const auto host = part(handle.get(), CURLUPART_HOST);
  if (!scheme || !host || host->empty()) return std::nullopt;
  out.scheme = lower_ascii(*scheme);
  out.host = *host;
  if (const auto port = part(handle.get(), CURLUPART_PORT)) out.port = std::stoi(*port);
  out.path = part(handle.get(), CURLUPART_PATH).value_or("/");
  out.query = split_query(part(handle.get(), CURLUPART_QUERY).value_or(""));
  out.password = part(handle.get(), CURLUPART_PASSWORD, CURLU_URLDECODE).value_or("");
  return out;
}

bool is_loopback_host(std::string_view host) {
  if (lower_ascii(std::string(host)) == "localhost") return true;
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string text(host);
  in_addr v4{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return inet_pton(AF_INET6, text.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

}  // namespace quorvel
