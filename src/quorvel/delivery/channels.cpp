#include "quorvel/delivery/channels.h"

#include <algorithm>
#include <array>
#include <set>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "contracts/errors.h"
#include "quorvel/utils/atomic_file.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/text.h"
#include "quorvel/utils/url_parts.h"

namespace quorvel::delivery {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::array<std::pair<ChannelKind, std::string_view>, 5> KINDS{{{ChannelKind::wecom, "wecom"},
                                                                         {ChannelKind::dingtalk, "dingtalk"},
                                                                         {ChannelKind::feishu, "feishu"},
                                                                         {ChannelKind::json, "json"},
                                                                         {ChannelKind::email, "email"}}};

// The fields a channel of each kind may have.
std::vector<std::string_view> allowed_fields(ChannelKind kind) {
  switch (kind) {
    case ChannelKind::wecom:
      return {"name", "type", "url", "full_text_at"};
    case ChannelKind::dingtalk:
    case ChannelKind::feishu:
      return {"name", "type", "url", "secret", "full_text_at"};
    case ChannelKind::json:
      return {"name", "type", "url"};
    case ChannelKind::email:
      return {"name", "type", "url", "tls", "username", "password", "from", "to"};
  }
  return {};
}

// Where a problem of the file is: the file and the channel (by name once known, else by position).
struct Place {
  const std::string& source;
  std::string channel;

  [[noreturn]] void fail(std::string_view field, std::string_view problem) const {
    throw ValueError(fmt::format("推送配置 {} 有误: 渠道 {} 的字段 {} {}", source, channel, field, problem));
  }
};

bool has_control(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// The text of `field`; "" when it is absent and optional. Credentials keep their spaces.
std::string text_field(const Json& item, const Place& at, const char* field, bool required, bool verbatim = false) {
  if (!item.contains(field)) {
    if (required) at.fail(field, "缺失");
    return {};
  }
  const Json& value = item.at(field);
  if (!value.is_string()) at.fail(field, "应为文本");
  const std::string text = verbatim ? value.get<std::string>() : trim_text(value.get<std::string>());
  if (trim_text(text).empty()) at.fail(field, "为空");
  if (has_control(text)) at.fail(field, "含控制字符");
  return text;
}

// A bare address "user@example.com": nothing a mail header or the SMTP envelope would read as syntax.
bool is_address(std::string_view s) {
  const auto at = s.find('@');
  if (at == 0 || at == std::string_view::npos || at + 1 >= s.size() || s.find('@', at + 1) != std::string_view::npos)
    return false;
  return std::none_of(s.begin(), s.end(), [](char c) {
    return static_cast<unsigned char>(c) <= ' ' || std::string_view("<>()[],;:\"\\").find(c) != std::string_view::npos;
  });
}

UrlParts checked_url(Channel& ch, const Json& item, const Place& at) {
  ch.url = text_field(item, at, "url", true);
  // The URL itself never enters an error text: it carries the robot's key.
  const auto url = parse_url(ch.url);
  if (!url) at.fail("url", "不是有效的地址");
  ch.host = url->authority();
  const bool local = is_loopback_host(url->host);
  if (ch.kind == ChannelKind::email) {
    if (url->scheme != "smtps" && url->scheme != "smtp")
      at.fail("url", "应为 smtps://主机:465 或 smtp://主机:587 (主机 " + ch.host + ")");
  } else if (url->scheme != "https" && !(url->scheme == "http" && local)) {
    at.fail("url", "应为 https:// 地址 (http:// 只允许本机的服务器；主机 " + ch.host + ")");
  }
  return *url;
}

void read_mail_fields(Channel& ch, const Json& item, const Place& at, const UrlParts& url) {
  const std::string tls = text_field(item, at, "tls", false);
  if (!tls.empty() && tls != "required" && tls != "none") at.fail("tls", "应为 required 或 none");
  ch.tls = tls == "none" ? MailTls::none : MailTls::required;
  if (ch.tls == MailTls::none && !(url.scheme == "smtp" && is_loopback_host(url.host)))
    at.fail("tls", "为 none (不加密) 只允许本机的 smtp:// 服务器；" + ch.host + " 须用 required");
  ch.username = text_field(item, at, "username", false);
  ch.password = text_field(item, at, "password", false, true);
  if (ch.username.empty() != ch.password.empty())
    at.fail(ch.username.empty() ? "username" : "password", "缺失 (用户名与密码须同时给出)");
  ch.from = text_field(item, at, "from", true);
  if (!is_address(ch.from)) at.fail("from", "不是有效的邮件地址");
  if (!item.contains("to")) at.fail("to", "缺失");
  const Json& to = item.at("to");
  if (!to.is_array() || to.empty()) at.fail("to", "应为非空的邮件地址列表");
  for (const Json& address : to) {
    if (!address.is_string() || !is_address(trim_text(address.get<std::string>()))) at.fail("to", "含无效的邮件地址");
    ch.to.push_back(trim_text(address.get<std::string>()));
  }
}

// A query parameter whose value opens the endpoint (WeCom's key, DingTalk's access_token, ...).
bool names_credential(const std::string& parameter) {
  const std::string name = lower_ascii(parameter);
  for (const char* word : {"key", "token", "secret", "sign", "auth", "pass"})
    if (name.find(word) != std::string::npos) return true;
  return false;
}

void register_credentials(const Channel& ch, const UrlParts& url) {
  register_secret(ch.secret);
  register_secret(ch.password);
  register_secret(url.password);
  for (const auto& [name, value] : url.query)
    if (names_credential(name)) register_secret(value);
  // A Feishu hook is opened by the last segment of its path: /open-apis/bot/v2/hook/<token>.
  if (ch.kind == ChannelKind::feishu) register_secret(url.path.substr(url.path.rfind('/') + 1));
}

Channel read_channel(const Json& item, const Place& at) {
  if (!item.is_object()) at.fail("(整体)", "应为 JSON 对象");
  Channel ch;
  ch.name = text_field(item, at, "name", true);
  const Place named{at.source, "'" + ch.name + "'"};
  const std::string type = text_field(item, named, "type", true);
  const auto kind = std::find_if(KINDS.begin(), KINDS.end(), [&](const auto& k) { return k.second == type; });
  if (kind == KINDS.end()) named.fail("type", "未知: '" + type + "' (应为 wecom、dingtalk、feishu、json 或 email)");
  ch.kind = kind->first;
  const auto allowed = allowed_fields(ch.kind);
  for (const auto& [field, value] : item.items())
    if (std::find(allowed.begin(), allowed.end(), field) == allowed.end())
      named.fail(field, fmt::format("不适用于 {} 渠道 (可用: {})", type, fmt::join(allowed, ", ")));
  const UrlParts url = checked_url(ch, item, named);
  ch.secret = text_field(item, named, "secret", false, true);
  ch.full_text_at = text_field(item, named, "full_text_at", false);
  if (ch.kind == ChannelKind::email) read_mail_fields(ch, item, named, url);
  register_credentials(ch, url);
  return ch;
}

}  // namespace

std::string_view kind_name(ChannelKind kind) {
  for (const auto& [k, name] : KINDS)
    if (k == kind) return name;
  return "json";
}

std::vector<Channel> parse_channels(std::string_view text, const std::string& source) {
  Json doc;
  try {
    doc = Json::parse(text);
  } catch (const Json::parse_error& e) {
    throw ValueError(fmt::format("推送配置 {} 不是有效的 JSON (第 {} 字节附近)", source, e.byte));
  }
  if (!doc.is_object() || !doc.contains("channels") || !doc.at("channels").is_array())
    throw ValueError(fmt::format("推送配置 {} 有误: 应为 {{\"channels\": [...]}}", source));
  for (const auto& [field, value] : doc.items())
    if (field != "channels") throw ValueError(fmt::format("推送配置 {} 有误: 未知的字段 {}", source, field));
  std::vector<Channel> channels;
  std::set<std::string> names;
  for (const Json& item : doc.at("channels")) {
    Channel ch = read_channel(item, Place{source, fmt::format("#{}", channels.size() + 1)});
    if (!names.insert(ch.name).second) Place{source, "'" + ch.name + "'"}.fail("name", "重复 (每个渠道须有唯一的名称)");
    channels.push_back(std::move(ch));
  }
  return channels;
}

std::vector<Channel> load_channels(const std::filesystem::path& file) {
  std::vector<Channel> channels = parse_channels(read_whole_file(file), file.string());
  std::error_code ec;
  const auto perms = std::filesystem::status(file, ec).permissions();
  // Every channel's URL or login may carry a key; a file without channels carries nothing.
  if (!ec && !channels.empty() && (perms & std::filesystem::perms::others_read) != std::filesystem::perms::none)
    logger.warning("[推送] 推送配置 %s 含密钥却可被其他用户读取，建议 chmod 600", file.string());
  std::vector<std::string> labels;
  for (const Channel& ch : channels) labels.push_back(ch.label());
  logger.info("[推送] 已读取推送配置 %s: %d 个渠道 %s", file.string(), channels.size(),
              fmt::format("{}", fmt::join(labels, ", ")));
  return channels;
}

std::vector<Channel> configured_channels() {
  if (const auto named = env_value(DELIVERY_FILE_VARIABLE)) {
    const std::filesystem::path file = resolve_setting_path(trim_text(*named));
    if (!std::filesystem::exists(file))
      throw RuntimeError(fmt::format("{} 指定的推送配置不存在: {}", DELIVERY_FILE_VARIABLE, file.string()));
    return load_channels(file);
  }
  const std::filesystem::path file = get_project_root() / DEFAULT_DELIVERY_FILE;
  if (!std::filesystem::exists(file)) return {};
  return load_channels(file);
}

}  // namespace quorvel::delivery
