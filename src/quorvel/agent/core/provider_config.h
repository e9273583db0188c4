#pragma once
// LLM providers and their configuration.
//
// Every provider the product can talk to is one row of `provider_table()`: its public defaults
// (base URL, model, thinking switch) live there and nowhere else. The operator selects a row with
// LLM_CLIENT_TYPE and overrides it with <TYPE>_API_KEY, <TYPE>_BASE_URL, <TYPE>_MODEL,
// <TYPE>_THINKING ("enabled"/"disabled") and <TYPE>_MAX_TOKENS. Timeouts and retries are shared by all
// providers: LLM_CONNECT_TIMEOUT, LLM_TIMEOUT, LLM_RETRY_BUDGET (seconds) and LLM_MAX_RETRIES, and
// LLM_MAX_IN_FLIGHT (requests sent to the provider at once by the whole process).
//
// Everything here is pure (the environment is read through an injected lookup) but for one effect:
// an API key that is read is registered as a secret (outside_text.h), so that it is masked in every
// output of the process.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "quorvel/agent/core/retry_policy.h"

namespace quorvel::agent::core {

// How a provider is reached.
enum class ClientKind {
  chat_completions,  // OpenAI-compatible chat completions over HTTP
  offline,           // deterministic rule-based answers without network
};

// How a provider expects its reasoning ("thinking") mode to be switched.
enum class ThinkingStyle {
  none,             // the provider has no switch; nothing is sent
  thinking_object,  // "thinking": {"type": "enabled" | "disabled"}
  enable_thinking,  // "enable_thinking": true | false
};

struct ProviderDefaults {
  std::string_view type;              // value of LLM_CLIENT_TYPE, lower case
  ClientKind kind = ClientKind::chat_completions;
  std::string_view default_base_url;  // empty: the operator must set <TYPE>_BASE_URL
  std::string_view default_model;     // empty: the operator must set <TYPE>_MODEL
  bool key_required = true;           // false: a local server that ignores the key
  ThinkingStyle thinking_style = ThinkingStyle::none;
  bool default_thinking = false;
  int default_max_tokens = 0;         // 0: not sent, the provider's own limit applies
};

// The provider rows, default first.
const std::vector<ProviderDefaults>& provider_table();
const ProviderDefaults* find_provider(std::string_view type);
// "deepseek, openai, ..." for error texts and --help.
std::string provider_names();

inline constexpr std::string_view DEFAULT_CLIENT_TYPE = "deepseek";

// Requests in flight per provider unless LLM_MAX_IN_FLIGHT says otherwise: enough for a watchlist to
// overlap its waits, low enough to stay inside the usual per-account concurrency limits.
inline constexpr int DEFAULT_MAX_IN_FLIGHT = 8;

struct Timeouts {
  std::chrono::milliseconds connect{std::chrono::seconds(15)};
  // Whole request, reply included. Long analyses take minutes at busy hours.
  std::chrono::milliseconds total{std::chrono::seconds(300)};
};

// A resolved provider: everything a client needs to send requests.
struct ProviderConfig {
  std::string type;
  ClientKind kind = ClientKind::chat_completions;
  std::string api_key;  // secret: never logged, never part of an error text
  std::string key_variable;
  std::string base_url;
  std::string model;
  ThinkingStyle thinking_style = ThinkingStyle::none;
  bool thinking = false;
  int max_tokens = 0;
  Timeouts timeouts;
  RetryPolicy retry;
  int max_in_flight = DEFAULT_MAX_IN_FLIGHT;  // requests at once to this provider (provider_gate.h)

  // Provider details without the key (the third value of build_client, the check tool).
  nlohmann::ordered_json describe() const;
};

using EnvLookup = std::function<std::optional<std::string>(const std::string& name)>;
// Reads the process environment (unset and empty variables are absent).
EnvLookup process_env();

// The selected client type: LLM_CLIENT_TYPE trimmed and lower-cased, or the default.
std::string selected_client_type(const EnvLookup& env);

// Resolves the selected provider. Fails with a ValueError that names the variable to set when the
// client type is unknown, a required key, base URL or model is missing, or a number is malformed.
ProviderConfig resolve_provider_config(const EnvLookup& env);

// The environment variable prefix of a client type: "openai_compatible" -> "OPENAI_COMPATIBLE".
std::string env_prefix(std::string_view type);

}  // namespace quorvel::agent::core
