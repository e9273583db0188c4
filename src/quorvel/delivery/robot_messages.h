#pragma once
// The requests that deliver a digest to a webhook channel, and how a reply is judged. Pure
// functions of their inputs (the caller passes the time a signature is made at); thread-safe.
//
// Bodies:
//   wecom     {"msgtype":"markdown","markdown":{"content": markdown}}
//   dingtalk  {"msgtype":"markdown","markdown":{"title": title,"text": markdown}}; with a secret the
//             URL gets "&timestamp=<ms>&sign=<url-encoded base64 HMAC-SHA256(secret, ms + "\n" + secret)>"
//   feishu    a "post" message: the title and one text paragraph per Markdown line; with a secret the
//             body gets "timestamp": "<s>" and "sign": base64 HMAC-SHA256(key s + "\n" + secret, "")
//   json      {"id","day","title","markdown","html"} with the header "Idempotency-Key: <digest id>"
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "quorvel/delivery/channels.h"
#include "quorvel/delivery/digest.h"
#include "quorvel/utils/http_transport.h"

namespace quorvel::delivery {

// Bytes of Markdown one message may carry: what each robot accepts, with room for the JSON around it.
inline constexpr std::size_t WECOM_MARKDOWN_LIMIT = 4096;
inline constexpr std::size_t DINGTALK_MARKDOWN_LIMIT = 20000;
inline constexpr std::size_t FEISHU_POST_LIMIT = 30000;

// `markdown` itself when it has at most `limit` bytes. Otherwise its longest run of whole lines that
// leaves room for the note "…（全文见 <where>）" on a line of its own, and that note; a first line
// longer than the room is cut at a character boundary. The result never exceeds `limit` bytes and
// never splits a UTF-8 character.
std::string fit_markdown(std::string_view markdown, std::size_t limit, std::string_view where);

// The Markdown a robot channel sends: the digest's, fitted to the robot's limit.
std::string robot_markdown(const Channel& channel, const Digest& digest);

// `url` with DingTalk's signature for `timestamp_ms` (ms since 1970 UTC) appended.
std::string dingtalk_signed_url(const std::string& url, const std::string& secret, std::int64_t timestamp_ms);

// Feishu's signature for `timestamp_s` (s since 1970 UTC).
std::string feishu_sign(const std::string& secret, std::int64_t timestamp_s);

// The POST that delivers `digest` to a webhook channel (any kind but email), signed at `now`.
HttpRequest webhook_request(const Channel& channel, const Digest& digest, std::chrono::system_clock::time_point now);

struct ReplyVerdict {
  bool ok = false;
  bool retryable = false;  // a later attempt may succeed (time-out, dropped connection, 429, 5xx, rate limit)
  std::string error;       // why it failed; outside text filtered and secrets masked
};

// A webhook's reply counts as delivered when the status is 2xx and, for the robots, the body says
// so too (WeCom and DingTalk: "errcode" 0; Feishu: "code" 0).
ReplyVerdict judge_reply(ChannelKind kind, const HttpResponse& response);

}  // namespace quorvel::delivery
