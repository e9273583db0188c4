#pragma once
// The channels the daily digest goes to, read from the delivery file (JSON):
//   {"channels": [{"name": "desk", "type": "wecom", "url": "https://..."}, ...]}
// Kinds: wecom, dingtalk and feishu group robots (webhook URL; dingtalk and feishu optionally with
// the robot's signing `secret`), json (a plain POST of the digest) and email (SMTP). README.md,
// "Delivery of the daily digest", lists the fields of each kind; config/delivery.example.json shows
// one channel of each.
//
// The file is checked whole when it is read: an unknown kind or field, a missing or malformed
// value, a duplicate name fails with an error that names the file, the channel and the field.
// Reading it registers every credential in it (webhook keys and tokens, signing secrets, mail
// passwords) as a secret, so that no output of the process shows them (outside_text.h).
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::delivery {

enum class ChannelKind { wecom, dingtalk, feishu, json, email };

std::string_view kind_name(ChannelKind kind);

enum class MailTls {
  required,  // smtps://, or STARTTLS on smtp://; no submission without it
  none,      // in the clear: only for a server on this machine
};

struct Channel {
  std::string name;  // unique in the file; how outcomes, logs and the report store name the channel
  ChannelKind kind = ChannelKind::json;
  std::string url;                  // webhook or SMTP server; carries keys: never logged (see label())
  std::string host;                 // the URL's host (and port): what a log line may show of it
  std::string secret;               // a DingTalk or Feishu robot's signing secret; empty: requests are unsigned
  std::string full_text_at;         // where readers find the whole digest, quoted when a robot's message is cut
  MailTls tls = MailTls::required;  // email only, like the fields below
  std::string username;             // empty: no login
  std::string password;
  std::string from;
  std::vector<std::string> to;

  // "name (host)": how logs and error texts name the channel.
  std::string label() const { return name + " (" + host + ")"; }
};

inline constexpr const char* DELIVERY_FILE_VARIABLE = "QUORVEL_DELIVERY_FILE";
inline constexpr const char* DEFAULT_DELIVERY_FILE = "config/delivery.json";  // under the project root

// The channels of the file text; `source` names the file in errors. Throws ValueError.
std::vector<Channel> parse_channels(std::string_view text, const std::string& source);

// The channels of `file`. Throws RuntimeError naming the file when it cannot be read, ValueError
// when it is malformed. Warns when other users may read it (it holds credentials).
std::vector<Channel> load_channels(const std::filesystem::path& file);

// The configured channels: those of the file QUORVEL_DELIVERY_FILE names (relative to the project
// root; a missing file is an error), else those of the default file (none when it does not exist).
std::vector<Channel> configured_channels();

}  // namespace quorvel::delivery
