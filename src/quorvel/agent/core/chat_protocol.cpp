#include "quorvel/agent/core/chat_protocol.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>

#include <nlohmann/json.hpp>

namespace quorvel::agent::core {

namespace {

using json = nlohmann::json;

bool blank(std::string_view s) {
  for (char c : s)
    if (!std::isspace(static_cast<unsigned char>(c))) return false;
  return true;
}

// Cuts at most `max` bytes without splitting a UTF-8 sequence.
std::string utf8_prefix(std::string_view s, std::size_t max) {
  if (s.size() <= max) return std::string(s);
  std::size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return std::string(s.substr(0, n)) + "…";
}

// Outside text on one line; the controls go first, so that the white space around them collapses too.
std::string collapse_space(std::string_view raw) {
  const std::string s = outside_text(raw);
  std::string out;
  bool space = false;
  for (char c : s) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      space = !out.empty();
    } else {
      if (space) out += ' ';
      space = false;
      out += c;
    }
  }
  return out;
}

// A token count of the usage object, or -1. A count is a whole number from 0 to LONG_MAX; a
// negative, fractional or larger number is no count (converting it would overflow or go negative),
// and counts as absent like text or null.
long count_or_absent(const json& obj, const char* key) {
  if (!obj.is_object()) return -1;
  const auto it = obj.find(key);
  if (it == obj.end()) return -1;
  if (it->is_number_unsigned()) {
    const auto n = it->get<std::uint64_t>();
    return n <= std::uint64_t(std::numeric_limits<long>::max()) ? long(n) : -1;
  }
  if (it->is_number_integer()) return std::max(it->get<std::int64_t>(), std::int64_t{-1});
  if (it->is_number_float()) {
    const double d = it->get<double>();
    // 2^63 is the first double beyond LONG_MAX.
    if (d >= 0 && d < 9223372036854775808.0 && d == std::floor(d)) return long(d);
  }
  return -1;
}

// Message content is text, null, or (some providers) a list of parts with "text" members.
std::string content_text(const json& content) {
  if (content.is_string()) return content.get<std::string>();
  std::string out;
  if (content.is_array()) {
    for (const auto& part : content)
      if (part.is_object() && part.contains("text") && part["text"].is_string()) out += part["text"].get<std::string>();
  }
  return out;
}

ChatUsage parse_usage(const json& reply) {
  ChatUsage u;
  const auto it = reply.find("usage");
  if (it == reply.end() || !it->is_object()) return u;
  const json& usage = *it;
  u.prompt_tokens = count_or_absent(usage, "prompt_tokens");
  u.completion_tokens = count_or_absent(usage, "completion_tokens");
  // Cache hits are reported under a different name by each provider family.
  u.cache_hit_tokens = count_or_absent(usage, "prompt_cache_hit_tokens");
  if (u.cache_hit_tokens < 0 && usage.contains("prompt_tokens_details"))
    u.cache_hit_tokens = count_or_absent(usage["prompt_tokens_details"], "cached_tokens");
  if (u.cache_hit_tokens < 0) u.cache_hit_tokens = count_or_absent(usage, "cached_tokens");
  return u;
}

std::string reply_prefix(const ProviderConfig& c) { return "[LLM] " + c.type + " "; }

// Text of the reply as it may be stored and printed; the configured key is masked even when it is
// too short for the registry of secrets.
std::string reply_text(const ProviderConfig& c, std::string_view text) {
  return redact(outside_text(text), c.api_key);
}

}  // namespace

std::string chat_completions_url(std::string_view base_url) {
  std::string url(base_url);
  while (!url.empty() && url.back() == '/') url.pop_back();
  constexpr std::string_view path = "/chat/completions";
  if (url.size() >= path.size() && url.compare(url.size() - path.size(), path.size(), path) == 0) return url;
  return url + std::string(path);
}

std::string display_url(std::string_view url) {
  std::string out(url);
  if (const auto q = out.find_first_of("?#"); q != std::string::npos) out.erase(q);
  const auto scheme = out.find("://");
  const std::size_t host = scheme == std::string::npos ? 0 : scheme + 3;
  const auto slash = out.find('/', host);
  const auto at = out.rfind('@', slash == std::string::npos ? out.size() : slash);
  if (at != std::string::npos && at >= host) out.erase(host, at + 1 - host);
  return out;
}

std::string build_chat_request_body(const ProviderConfig& config, const std::vector<ChatMessage>& messages) {
  nlohmann::ordered_json body;
  body["model"] = config.model;
  body["messages"] = nlohmann::ordered_json::array();
  for (const auto& m : messages) body["messages"].push_back({{"role", m.role}, {"content", m.content}});
  body["stream"] = false;
  switch (config.thinking_style) {
    case ThinkingStyle::thinking_object:
      body["thinking"] = {{"type", config.thinking ? "enabled" : "disabled"}};
      break;
    case ThinkingStyle::enable_thinking:
      body["enable_thinking"] = config.thinking;
      break;
    case ThinkingStyle::none:
      break;
  }
  if (config.max_tokens > 0) body["max_tokens"] = config.max_tokens;
  // Invalid UTF-8 from upstream data must not abort the call: replace it instead.
  return body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string provider_error_message(std::string_view body, std::size_t max_chars) {
  const json parsed = json::parse(body, nullptr, false);
  if (parsed.is_object()) {
    const auto err = parsed.find("error");
    if (err != parsed.end()) {
      if (err->is_object() && err->contains("message") && (*err)["message"].is_string())
        return utf8_prefix(collapse_space((*err)["message"].get<std::string>()), max_chars);
      if (err->is_string()) return utf8_prefix(collapse_space(err->get<std::string>()), max_chars);
    }
    const auto msg = parsed.find("message");
    if (msg != parsed.end() && msg->is_string()) return utf8_prefix(collapse_space(msg->get<std::string>()), max_chars);
  }
  const std::string text = collapse_space(body);
  return text.empty() ? "(空响应体)" : utf8_prefix(text, max_chars);
}

std::string redact(std::string text, std::string_view secret) {
  if (secret.empty()) return text;
  for (auto pos = text.find(secret); pos != std::string::npos; pos = text.find(secret, pos + 3))
    text.replace(pos, secret.size(), "***");
  return text;
}

LlmError http_status_error(const ProviderConfig& c, long status, std::string_view body) {
  const std::string prefix = env_prefix(c.type);
  std::string hint;
  if (status == 401 || status == 403) {
    hint = "请检查 " + c.key_variable + " 是否正确且有权限";
  } else if (status == 402) {
    hint = "账户余额不足，请充值或更换 LLM_CLIENT_TYPE";
  } else if (status == 404) {
    hint = "请检查 " + prefix + "_BASE_URL 与 " + prefix + "_MODEL（model=" + c.model + "）";
  } else if (status == 400 || status == 422) {
    hint = "请求参数被拒绝（model=" + c.model + "）";
  } else if (status == 429) {
    hint = "请求过于频繁或并发超限";
  } else if (status >= 500) {
    hint = "服务端错误";
  }
  std::string msg = reply_prefix(c) + "请求失败: HTTP " + std::to_string(status) + " | " +
                    provider_error_message(body) + (hint.empty() ? "" : " | " + hint);
  return LlmError(redact(std::move(msg), c.api_key), status, is_retryable_status(status));
}

ParsedReply parse_chat_reply(const ProviderConfig& c, std::string_view body, bool keep_blank_answer) {
  const auto fail = [&](const std::string& what, bool retryable) {
    return LlmError(redact(reply_prefix(c) + what, c.api_key), 200, retryable);
  };
  if (blank(body)) throw fail("返回空响应体", true);
  const json reply = json::parse(body, nullptr, false);
  if (!reply.is_object()) {
    throw fail("返回内容不是 JSON 对象（请检查 " + env_prefix(c.type) + "_BASE_URL 是否指向 chat completions 服务）: " +
                   provider_error_message(body, 200),
               false);
  }
  if (reply.contains("error") && !reply["error"].is_null())
    throw fail("返回错误: " + provider_error_message(body), false);
  const auto choices = reply.find("choices");
  if (choices == reply.end() || !choices->is_array() || choices->empty() || !(*choices)[0].is_object())
    throw fail("回复中没有 choices: " + provider_error_message(body, 200), false);
  const json& choice = (*choices)[0];
  const auto message = choice.find("message");
  if (message == choice.end() || !message->is_object()) throw fail("回复的 choices[0] 中没有 message", false);

  ParsedReply out;
  // Escape sequences, control characters and secrets never reach the store or a terminal.
  out.reply.content = message->contains("content") ? reply_text(c, content_text((*message)["content"])) : "";
  for (const char* key : {"reasoning_content", "reasoning"}) {
    if (message->contains(key) && (*message)[key].is_string()) {
      out.reply.reasoning_content = reply_text(c, (*message)[key].get<std::string>());
      break;
    }
  }
  if (choice.contains("finish_reason") && choice["finish_reason"].is_string())
    out.finish_reason = reply_text(c, choice["finish_reason"].get<std::string>());
  if (reply.contains("model") && reply["model"].is_string())
    out.reply.model = reply_text(c, reply["model"].get<std::string>());
  out.reply.usage = parse_usage(reply);

  if (blank(out.reply.content) && !keep_blank_answer) {
    if (out.finish_reason == "length") {
      throw fail("输出在正文之前被 token 上限截断（finish_reason=length），请调大 " + env_prefix(c.type) + "_MAX_TOKENS",
                 false);
    }
    throw fail("模型返回空内容", true);
  }
  return out;
}

}  // namespace quorvel::agent::core
