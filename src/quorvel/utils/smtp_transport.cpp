#include "quorvel/utils/smtp_transport.h"

#include <cstdlib>
#include <memory>
#include <string_view>

#include <curl/curl.h>

namespace quorvel {

namespace {

struct CurlDeleter {
  void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct MimeDeleter {
  void operator()(curl_mime* m) const { curl_mime_free(m); }
};

curl_slist* append_all(const std::vector<std::string>& lines) {
  curl_slist* list = nullptr;
  for (const std::string& line : lines)
    if (curl_slist* next = curl_slist_append(list, line.c_str())) list = next;
  return list;
}

// Keeps the server's latest refusal (a 4xx or 5xx reply line); libcurl hands the server's replies
// in as "headers". The QUIT that follows a refusal is answered too, so the last line is not the one.
int on_debug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
  if (type != CURLINFO_HEADER_IN) return 0;
  std::string_view line(data, size);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (!line.empty() && (line[0] == '4' || line[0] == '5')) *static_cast<std::string*>(user) = std::string(line);
  return 0;
}

// The message body: multipart/mixed holding one multipart/alternative part, as mail readers expect.
curl_mime* build_body(CURL* h, const std::vector<MailPart>& alternatives) {
  curl_mime* mime = curl_mime_init(h);
  curl_mime* alt = curl_mime_init(h);
  for (const MailPart& form : alternatives) {
    curl_mimepart* part = curl_mime_addpart(alt);
    curl_mime_data(part, form.body.data(), form.body.size());
    curl_mime_type(part, form.content_type.c_str());
    curl_mime_encoder(part, "base64");
  }
  curl_mimepart* root = curl_mime_addpart(mime);
  curl_mime_subparts(root, alt);  // `mime` owns `alt` from here on
  curl_mime_type(root, "multipart/alternative");
  curl_mime_headers(root, curl_slist_append(nullptr, "Content-Disposition: inline"), 1);
  return mime;
}

}  // namespace

SmtpResponse smtp_send(const SmtpRequest& request) {
  init_curl_once();
  SmtpResponse response;
  std::unique_ptr<CURL, CurlDeleter> handle(curl_easy_init());
  if (!handle) {
    response.failure = TransportFailure::other;
    response.failure_text = "curl_easy_init failed";
    return response;
  }
  CURL* h = handle.get();
  std::vector<std::string> recipients;
  for (const std::string& to : request.to) recipients.push_back("<" + to + ">");
  std::unique_ptr<curl_slist, SlistDeleter> rcpt(append_all(recipients));
  std::unique_ptr<curl_slist, SlistDeleter> headers(append_all(request.headers));
  std::unique_ptr<curl_mime, MimeDeleter> body(build_body(h, request.alternatives));
  const std::string from = "<" + request.from + ">";
  std::string refusal;
  char error_buffer[CURL_ERROR_SIZE] = {0};

  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(request.require_tls ? CURLUSESSL_ALL : CURLUSESSL_NONE));
  if (!request.username.empty()) {
    curl_easy_setopt(h, CURLOPT_USERNAME, request.username.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, request.password.c_str());
  }
  curl_easy_setopt(h, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(h, CURLOPT_MAIL_RCPT, rcpt.get());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_MIMEPOST, body.get());
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connect_timeout.count()));
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.total_timeout.count()));
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_buffer);
  // The debug hook only reads the server's replies; what the client sends (the login) is ignored.
  curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, on_debug);
  curl_easy_setopt(h, CURLOPT_DEBUGDATA, &refusal);
  curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);

  const CURLcode code = curl_easy_perform(h);
  long reply_code = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply_code);
  if (reply_code < 400 && refusal.size() >= 3) reply_code = std::atol(refusal.substr(0, 3).c_str());
  response.reply_code = int(reply_code);
  if (code == CURLE_OK) return response;
  response.failure = response.reply_code >= 400 ? TransportFailure::other : transport_failure_of(code);
  response.failure_text = error_buffer[0] ? error_buffer : curl_easy_strerror(code);
  if (!refusal.empty()) response.failure_text += " | 服务器答复: " + refusal;
  return response;
}

}  // namespace quorvel
