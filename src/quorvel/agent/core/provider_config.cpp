#include "quorvel/agent/core/provider_config.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "contracts/errors.h"
#include "quorvel/agent/core/chat_protocol.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/text.h"

namespace quorvel::agent::core {

namespace {

// Public defaults of each provider. Model names rotate at the providers: change them here (or per
// machine with <TYPE>_MODEL), never elsewhere in the code.
const std::vector<ProviderDefaults> PROVIDERS = {
    // Non-thinking by default: the stock prompt already asks for step-by-step reasoning, and the
    // output budget is raised so the closing decision JSON is not cut off.
    {"deepseek", ClientKind::chat_completions, "https://api.deepseek.com", "deepseek-v4-flash", true,
     ThinkingStyle::thinking_object, false, 8192},
    {"openai", ClientKind::chat_completions, "https://api.openai.com/v1", "gpt-4.1-mini", true, ThinkingStyle::none,
     false, 0},
    // Compatible mode only answers thinking requests as streams, so thinking is switched off explicitly.
    {"qwen", ClientKind::chat_completions, "https://dashscope.aliyuncs.com/compatible-mode/v1", "qwen-plus", true,
     ThinkingStyle::enable_thinking, false, 0},
    {"moonshot", ClientKind::chat_completions, "https://api.moonshot.cn/v1", "kimi-k2.6", true, ThinkingStyle::none,
     false, 0},
    // A local server that ignores the key.
    {"ollama", ClientKind::chat_completions, "http://localhost:11434/v1", "qwen2.5:7b", false, ThinkingStyle::none,
     false, 0},
    // Any other OpenAI-compatible service: base URL and model must be configured.
    {"openai_compatible", ClientKind::chat_completions, "", "", true, ThinkingStyle::none, false, 0},
    {"offline", ClientKind::offline, "", "offline-rules", false, ThinkingStyle::none, false, 0},
};

std::optional<std::string> lookup(const EnvLookup& env, const std::string& name) {
  auto v = env(name);
  if (!v) return std::nullopt;
  std::string t = trim_text(*v);
  if (t.empty()) return std::nullopt;
  return t;
}

std::optional<double> parse_seconds(const EnvLookup& env, const std::string& name, double min, double max) {
  const auto text = lookup(env, name);
  if (!text) return std::nullopt;
  double v = 0;
  const auto [ptr, ec] = std::from_chars(text->data(), text->data() + text->size(), v);
  if (ec != std::errc() || ptr != text->data() + text->size() || !std::isfinite(v) || v < min || v > max) {
    throw ValueError("环境变量 " + name + "='" + *text + "' 无效：应为 " + std::to_string(int(min)) + " 到 " +
                     std::to_string(int(max)) + " 之间的秒数");
  }
  return v;
}

std::optional<int> parse_int(const EnvLookup& env, const std::string& name, int min, int max) {
  const auto text = lookup(env, name);
  if (!text) return std::nullopt;
  int v = 0;
  const auto [ptr, ec] = std::from_chars(text->data(), text->data() + text->size(), v);
  if (ec != std::errc() || ptr != text->data() + text->size() || v < min || v > max) {
    throw ValueError("环境变量 " + name + "='" + *text + "' 无效：应为 " + std::to_string(min) + " 到 " +
                     std::to_string(max) + " 之间的整数");
  }
  return v;
}

std::optional<bool> parse_switch(const EnvLookup& env, const std::string& name) {
  const auto text = lookup(env, name);
  if (!text) return std::nullopt;
  const std::string v = lower_ascii(*text);
  if (v == "enabled" || v == "true" || v == "on" || v == "1") return true;
  if (v == "disabled" || v == "false" || v == "off" || v == "0") return false;
  throw ValueError("环境变量 " + name + "='" + *text + "' 无效：应为 enabled 或 disabled");
}

std::chrono::milliseconds to_ms(double seconds) {
  return std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000.0)));
}

const char* thinking_style_name(ThinkingStyle s) {
  switch (s) {
    case ThinkingStyle::thinking_object: return "thinking";
    case ThinkingStyle::enable_thinking: return "enable_thinking";
    case ThinkingStyle::none: break;
  }
  return "none";
}

}  // namespace

const std::vector<ProviderDefaults>& provider_table() { return PROVIDERS; }

const ProviderDefaults* find_provider(std::string_view type) {
  for (const auto& p : PROVIDERS)
    if (p.type == type) return &p;
  return nullptr;
}

std::string provider_names() {
  std::string out;
  for (const auto& p : PROVIDERS) {
    if (!out.empty()) out += ", ";
    out += p.type;
  }
  return out;
}

std::string env_prefix(std::string_view type) {
  std::string out(type);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::toupper(c)); });
  return out;
}

EnvLookup process_env() {
  return [](const std::string& name) { return quorvel::env_value(name.c_str()); };
}

std::string selected_client_type(const EnvLookup& env) {
  if (auto v = lookup(env, "LLM_CLIENT_TYPE")) return lower_ascii(*v);
  return std::string(DEFAULT_CLIENT_TYPE);
}

ProviderConfig resolve_provider_config(const EnvLookup& env) {
  const std::string type = selected_client_type(env);
  const ProviderDefaults* row = find_provider(type);
  if (!row) {
    throw ValueError("不支持的 LLM_CLIENT_TYPE='" + type + "'，可选: " + provider_names());
  }
  const std::string prefix = env_prefix(type);
  ProviderConfig c;
  c.type = type;
  c.kind = row->kind;
  c.key_variable = prefix + "_API_KEY";
  c.base_url = lookup(env, prefix + "_BASE_URL").value_or(std::string(row->default_base_url));
  c.model = lookup(env, prefix + "_MODEL").value_or(std::string(row->default_model));
  c.thinking_style = row->thinking_style;
  c.thinking = parse_switch(env, prefix + "_THINKING").value_or(row->default_thinking);
  c.max_tokens = parse_int(env, prefix + "_MAX_TOKENS", 1, 1 << 22).value_or(row->default_max_tokens);
  if (auto key = lookup(env, c.key_variable)) {
    c.api_key = *key;
    register_secret(*key);  // the one side effect here: from now on no output of the process shows the key
  }

  if (auto v = parse_seconds(env, "LLM_CONNECT_TIMEOUT", 1, 600)) c.timeouts.connect = to_ms(*v);
  if (auto v = parse_seconds(env, "LLM_TIMEOUT", 1, 7200)) c.timeouts.total = to_ms(*v);
  if (auto v = parse_int(env, "LLM_MAX_RETRIES", 0, 10)) c.retry.max_attempts = *v + 1;
  if (auto v = parse_seconds(env, "LLM_RETRY_BUDGET", 1, 86400)) c.retry.total_budget = to_ms(*v);
  if (auto v = parse_int(env, "LLM_MAX_IN_FLIGHT", 1, 256)) c.max_in_flight = *v;

  if (c.kind != ClientKind::chat_completions) return c;
  if (row->key_required && c.api_key.empty()) {
    throw ValueError("缺少 LLM API 密钥：LLM_CLIENT_TYPE=" + type + " 需要环境变量 " + c.key_variable +
                     "（可写入项目根目录的 .env 文件），或用 LLM_CLIENT_TYPE 选择其他客户端");
  }
  if (c.base_url.empty()) {
    throw ValueError("缺少服务地址：LLM_CLIENT_TYPE=" + type + " 需要环境变量 " + prefix +
                     "_BASE_URL（例如 http://127.0.0.1:8080/v1）");
  }
  if (c.base_url.rfind("http://", 0) != 0 && c.base_url.rfind("https://", 0) != 0) {
    throw ValueError("环境变量 " + prefix + "_BASE_URL 无效：应以 http:// 或 https:// 开头");
  }
  if (c.model.empty()) {
    throw ValueError("缺少模型名称：LLM_CLIENT_TYPE=" + type + " 需要环境变量 " + prefix + "_MODEL");
  }
  return c;
}

nlohmann::ordered_json ProviderConfig::describe() const {
  nlohmann::ordered_json d;
  d["provider"] = type;
  d["base_url"] = display_url(base_url);
  d["model"] = model;
  d["key_variable"] = key_variable;
  d["key_set"] = !api_key.empty();
  d["thinking_switch"] = thinking_style_name(thinking_style);
  d["thinking"] = thinking;
  d["max_tokens"] = max_tokens;
  d["connect_timeout_s"] = double(timeouts.connect.count()) / 1000.0;
  d["timeout_s"] = double(timeouts.total.count()) / 1000.0;
  d["max_attempts"] = retry.max_attempts;
  d["retry_budget_s"] = double(retry.total_budget.count()) / 1000.0;
  d["max_in_flight"] = max_in_flight;
  return d;
}

}  // namespace quorvel::agent::core
