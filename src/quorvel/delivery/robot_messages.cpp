#include "quorvel/delivery/robot_messages.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "quorvel/utils/json_text.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/retry_policy.h"
#include "quorvel/utils/signature.h"
#include "quorvel/utils/text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::delivery {

namespace {

using Json = nlohmann::ordered_json;

// Reply codes by which the robots say "too many messages, slow down": worth another attempt later.
constexpr long WECOM_RATE_LIMITED = 45009;
constexpr long DINGTALK_RATE_LIMITED = 130101;
constexpr long FEISHU_RATE_LIMITED = 11232;

// Code points of a reply body quoted in an error.
constexpr std::size_t QUOTED_BODY_LENGTH = 200;

// The longest prefix of `text` with at most `bytes` bytes that ends on a character boundary.
std::string_view utf8_prefix(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return text.substr(0, bytes);
}

std::string_view trim_line_ends(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
  return text;
}

std::string feishu_body(const Channel& channel, const Digest& digest, std::int64_t seconds) {
  Json paragraphs = Json::array();
  const std::string markdown = robot_markdown(channel, digest);
  std::string_view rest = markdown;
  while (!rest.empty()) {
    const auto end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    paragraphs.push_back(Json::array({Json{{"tag", "text"}, {"text", std::string(line)}}}));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  Json body;
  if (!channel.secret.empty()) {
    body["timestamp"] = std::to_string(seconds);
    body["sign"] = feishu_sign(channel.secret, seconds);
  }
  body["msg_type"] = "post";
  body["content"] = {{"post", {{"zh_cn", {{"title", digest.title}, {"content", paragraphs}}}}}};
  return safe_json_dumps(body);
}

std::string webhook_body(const Channel& channel, const Digest& digest, std::int64_t seconds) {
  switch (channel.kind) {
    case ChannelKind::wecom:
      return safe_json_dumps(
          Json{{"msgtype", "markdown"}, {"markdown", {{"content", robot_markdown(channel, digest)}}}});
    case ChannelKind::dingtalk:
      return safe_json_dumps(Json{{"msgtype", "markdown"},
                                  {"markdown", {{"title", digest.title}, {"text", robot_markdown(channel, digest)}}}});
    case ChannelKind::feishu:
      return feishu_body(channel, digest, seconds);
    case ChannelKind::json:
    case ChannelKind::email:
      break;
  }
  return safe_json_dumps(Json{{"id", digest.id},
                              {"day", digest.day},
                              {"title", digest.title},
                              {"markdown", digest.markdown},
                              {"html", digest.html}});
}

std::string quoted_body(const std::string& body) {
  const std::string clean = outside_text(body);
  const std::string_view head = prefix_code_points(clean, QUOTED_BODY_LENGTH);
  return head.size() < clean.size() ? std::string(head) + "…" : clean;
}

// The robot's verdict in a 2xx body: its error code member must be 0.
ReplyVerdict judge_body(ChannelKind kind, const std::string& body) {
  const Json reply = Json::parse(body, nullptr, false);
  const char* member = kind == ChannelKind::feishu ? "code" : "errcode";
  const Json* code = nullptr;
  if (reply.is_object() && reply.contains(member)) code = &reply.at(member);
  if (!code && kind == ChannelKind::feishu && reply.is_object() && reply.contains("StatusCode"))
    code = &reply.at("StatusCode");  // the older form of Feishu's reply
  if (!code || !code->is_number_integer())
    return {false, false, fmt::format("回复中没有 {} (应为 0): {}", member, quoted_body(body))};
  const long value = code->get<long>();
  if (value == 0) return {true, false, {}};
  const bool rate_limited =
      value == WECOM_RATE_LIMITED || value == DINGTALK_RATE_LIMITED || value == FEISHU_RATE_LIMITED;
  return {false, rate_limited, fmt::format("机器人拒绝: {}={} | {}", member, value, quoted_body(body))};
}

}  // namespace

std::string fit_markdown(std::string_view markdown, std::size_t limit, std::string_view where) {
  if (markdown.size() <= limit) return std::string(markdown);
  const std::string note = fmt::format("\n\n…（全文见 {}）", where);
  if (note.size() >= limit) return std::string(utf8_prefix(markdown, limit));
  const std::size_t room = limit - note.size();
  const auto line_end = markdown.rfind('\n', room);
  std::string_view kept =
      line_end == std::string_view::npos || line_end == 0 ? utf8_prefix(markdown, room) : markdown.substr(0, line_end);
  return std::string(trim_line_ends(kept)) + note;
}

std::string robot_markdown(const Channel& channel, const Digest& digest) {
  const std::size_t limit = channel.kind == ChannelKind::wecom      ? WECOM_MARKDOWN_LIMIT
                            : channel.kind == ChannelKind::dingtalk ? DINGTALK_MARKDOWN_LIMIT
                                                                    : FEISHU_POST_LIMIT;
  const std::string where =
      channel.full_text_at.empty() ? "quorvel 报告目录中的日报 " + digest.day : channel.full_text_at;
  return fit_markdown(digest.markdown, limit, where);
}

std::string dingtalk_signed_url(const std::string& url, const std::string& secret, std::int64_t timestamp_ms) {
  const std::string stamp = std::to_string(timestamp_ms);
  const std::string sign = base64_encode(hmac_sha256(secret, stamp + "\n" + secret));
  return url + (url.find('?') == std::string::npos ? "?" : "&") + "timestamp=" + stamp +
         "&sign=" + percent_encoded(sign);
}

std::string feishu_sign(const std::string& secret, std::int64_t timestamp_s) {
  return base64_encode(hmac_sha256(std::to_string(timestamp_s) + "\n" + secret, ""));
}

HttpRequest webhook_request(const Channel& channel, const Digest& digest, std::chrono::system_clock::time_point now) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  HttpRequest request;
  request.url = channel.kind == ChannelKind::dingtalk && !channel.secret.empty()
                    ? dingtalk_signed_url(channel.url, channel.secret, ms)
                    : channel.url;
  request.headers = {"Content-Type: application/json; charset=utf-8"};
  if (channel.kind == ChannelKind::json) request.headers.push_back("Idempotency-Key: " + digest.id);
  request.body = webhook_body(channel, digest, ms / 1000);
  return request;
}

ReplyVerdict judge_reply(ChannelKind kind, const HttpResponse& response) {
  switch (response.failure) {
    case TransportFailure::none:
      break;
    case TransportFailure::timeout:
    case TransportFailure::connection:
      return {false, true, "连接失败: " + outside_text(response.failure_text)};
    case TransportFailure::other:
    case TransportFailure::too_large:
      return {false, false, "请求失败: " + outside_text(response.failure_text)};
  }
  if (response.status < 200 || response.status > 299)
    return {false, is_retryable_status(response.status),
            fmt::format("HTTP {}: {}", response.status, quoted_body(response.body))};
  if (kind == ChannelKind::json || kind == ChannelKind::email) return {true, false, {}};
  return judge_body(kind, response.body);
}

}  // namespace quorvel::delivery
