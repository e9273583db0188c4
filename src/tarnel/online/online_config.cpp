#include "tarnel/online/online_config.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "quorvel/utils/environment.h"
#include "tarnel/online/eastmoney_provider.h"
#include "tarnel/online/tencent_provider.h"

namespace tarnel::online {

namespace {

std::string lower_trimmed(std::string s) {
  std::erase_if(s, [](unsigned char c) { return std::isspace(c); });
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

std::chrono::milliseconds millis(const char* name, std::chrono::milliseconds fallback) {
  const auto text = quorvel::env_value(name);
  if (!text) return fallback;
  long long v = -1;
  const auto [ptr, ec] = std::from_chars(text->data(), text->data() + text->size(), v);
  if (ec != std::errc() || ptr != text->data() + text->size() || v < 0)
    throw quorvel::ValueError(fmt::format("环境变量 {} 应为非负整数（毫秒），实际为 '{}'", name, *text));
  return std::chrono::milliseconds(v);
}

bool known_provider(const std::string& name) { return name == "eastmoney" || name == "tencent"; }

}  // namespace

OnlineConfig online_config_from_env() {
  OnlineConfig c;
  if (const auto v = quorvel::env_value("TARNEL_ONLINE")) {
    const std::string s = lower_trimmed(*v);
    c.enabled = !(s == "0" || s == "false" || s == "off" || s == "no");
  }
  if (const auto v = quorvel::env_value("TARNEL_PROVIDERS")) {
    c.providers.clear();
    std::string item;
    for (char ch : *v + ",") {
      if (ch != ',') {
        item += ch;
        continue;
      }
      item = lower_trimmed(item);
      if (!item.empty() && !known_provider(item))
        throw quorvel::ValueError(fmt::format("环境变量 TARNEL_PROVIDERS 中的行情源 '{}' 未知（可用: eastmoney, tencent）", item));
      if (!item.empty() && std::find(c.providers.begin(), c.providers.end(), item) == c.providers.end())
        c.providers.push_back(item);
      item.clear();
    }
  }
  if (const auto v = quorvel::env_value("TARNEL_ADJUST")) {
    const std::string s = lower_trimmed(*v);
    if (s == "qfq") c.adjustment = Adjustment::forward;
    else if (s == "hfq") c.adjustment = Adjustment::backward;
    else if (s == "none") c.adjustment = Adjustment::none;
    else throw quorvel::ValueError(fmt::format("环境变量 TARNEL_ADJUST 应为 qfq、hfq 或 none，实际为 '{}'", *v));
  }
  if (const auto v = quorvel::env_value("TARNEL_EASTMONEY_URL")) c.eastmoney_url = *v;
  if (const auto v = quorvel::env_value("TARNEL_TENCENT_URL")) c.tencent_url = *v;
  c.fetch.min_interval = millis("TARNEL_REQUEST_INTERVAL_MS", c.fetch.min_interval);
  c.fetch.total_timeout = millis("TARNEL_HTTP_TIMEOUT_MS", c.fetch.total_timeout);
  c.fetch.connect_timeout = std::min(c.fetch.connect_timeout, c.fetch.total_timeout);
  return c;
}

std::vector<std::unique_ptr<Provider>> make_providers(const OnlineConfig& config) {
  std::vector<std::unique_ptr<Provider>> out;
  for (const auto& name : config.providers) {
    if (name == "eastmoney") out.push_back(std::make_unique<EastmoneyProvider>(config.eastmoney_url));
    if (name == "tencent") out.push_back(std::make_unique<TencentProvider>(config.tencent_url));
  }
  return out;
}

}  // namespace tarnel::online
