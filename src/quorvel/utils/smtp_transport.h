#pragma once
// One blocking SMTP submission over libcurl: log in when a user is given, send the envelope and a
// MIME message whose body is one content in several forms (multipart/alternative). Runs on a worker
// thread; never on the event loop. Thread-safe: every call uses its own handle.
#include <chrono>
#include <string>
#include <vector>

#include "quorvel/utils/http_transport.h"

namespace quorvel {

struct MailPart {
  std::string content_type;  // "text/plain; charset=utf-8"
  std::string body;          // sent base64-encoded, so that any UTF-8 text passes every server
};

struct SmtpRequest {
  std::string url;                     // "smtps://host:465" (TLS from the first byte) or "smtp://host:587"
  bool require_tls = true;             // smtp://: STARTTLS or no submission; false sends the message in the clear
  std::string username;                // empty: no login
  std::string password;                // secret: never logged, never part of an error text
  std::string from;                    // envelope sender address
  std::vector<std::string> to;         // envelope recipients; each one must be accepted
  std::vector<std::string> headers;    // "Name: value" lines of the message (From, To, Subject, ...)
  std::vector<MailPart> alternatives;  // plainest form first
  std::chrono::milliseconds connect_timeout{15000};
  std::chrono::milliseconds total_timeout{60000};
};

struct SmtpResponse {
  TransportFailure failure = TransportFailure::none;  // none: the server took the message
  std::string failure_text;  // libcurl's description and, when the server refused, its reply line
  int reply_code = 0;        // the server's last reply code; 400-599 when it refused a step
  bool accepted() const { return failure == TransportFailure::none; }
};

SmtpResponse smtp_send(const SmtpRequest& request);

}  // namespace quorvel
