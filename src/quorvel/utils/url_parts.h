#pragma once
// The parts of a URL as libcurl's own parser reads them, so that what a check or a log line sees is
// what the transport will connect to. Pure; thread-safe.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

struct UrlParts {
  std::string scheme;  // lower case: "https", "smtps"
  std::string host;    // as in the URL; an IPv6 address keeps its brackets ("[::1]")
  int port = 0;        // the port the URL names; 0 when it names none
  std::string path;    // percent-encoded, as in the URL ("/" at least)
  std::vector<std::pair<std::string, std::string>> query;  // decoded name and value of each parameter
  std::string password;  // the decoded password of "user:password@"; empty when there is none

  // "host" or "host:port": how a log line may name the server, without user, path or query.
  std::string authority() const;
};

// Nothing when libcurl cannot read the text as a URL with a scheme it knows and a host.
std::optional<UrlParts> parse_url(const std::string& url);

// "localhost", an address of 127.0.0.0/8 or "::1" (with or without brackets).
bool is_loopback_host(std::string_view host);

}  // namespace quorvel
