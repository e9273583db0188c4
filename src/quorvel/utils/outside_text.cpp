#include "quorvel/utils/outside_text.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "quorvel/utils/text.h"

namespace quorvel {

namespace {

constexpr std::string_view MASK = "***";
constexpr std::string_view AUTHORIZATION = "authorization";

struct SecretRegistry {
  std::shared_mutex mutex;
  std::vector<std::string> secrets;  // longest first, so that a secret holding another is masked whole
};

SecretRegistry& registry() {
  static SecretRegistry r;
  return r;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Quotes and backslashes around a header name or value, as in JSON (escaped once more when the JSON
// itself sits inside a string).
std::size_t skip_quoting(std::string_view s, std::size_t i) {
  while (i < s.size() && (is_blank(s[i]) || s[i] == '"' || s[i] == '\'' || s[i] == '\\')) ++i;
  return i;
}

bool ends_value(char c) {
  return std::string_view(" \t\r\n\"',;}])<>\\&").find(c) != std::string_view::npos;
}

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Where the credential of an Authorization value starting at `i` begins: after an authentication
// scheme ("Bearer", "Basic") that is followed by blanks and more text, the scheme staying readable.
std::size_t credential_start(std::string_view s, std::size_t i) {
  std::size_t word = i;
  while (word < s.size() && is_letter(s[word])) ++word;
  if (word == i || word >= s.size() || !is_blank(s[word])) return i;
  while (word < s.size() && is_blank(s[word])) ++word;
  return word < s.size() && !ends_value(s[word]) ? word : i;
}

// Values of "authorization" headers and fields (any case, ':' or '=' after the name) masked.
std::string mask_authorization(std::string text) {
  const std::string lower = lower_ascii(text);
  std::string out;
  std::size_t copied = 0;
  for (std::size_t at = lower.find(AUTHORIZATION); at != std::string::npos;
       at = lower.find(AUTHORIZATION, std::max(at + AUTHORIZATION.size(), copied))) {
    std::size_t i = skip_quoting(text, at + AUTHORIZATION.size());
    if (i >= text.size() || (text[i] != ':' && text[i] != '=')) continue;
    i = credential_start(text, skip_quoting(text, i + 1));
    std::size_t end = i;
    while (end < text.size() && !ends_value(text[end])) ++end;
    if (end == i) continue;
    out.append(text, copied, i - copied).append(MASK);
    copied = end;
  }
  if (copied == 0) return text;
  return out.append(text, copied);
}

void register_one(std::string secret) {
  if (secret.size() < MIN_SECRET_BYTES) return;
  SecretRegistry& r = registry();
  std::unique_lock lock(r.mutex);
  if (std::find(r.secrets.begin(), r.secrets.end(), secret) != r.secrets.end()) return;
  const auto pos = std::find_if(r.secrets.begin(), r.secrets.end(),
                                [&](const std::string& s) { return s.size() < secret.size(); });
  r.secrets.insert(pos, std::move(secret));
}

}  // namespace

void register_secret(std::string secret) {
  // A server may echo the key as it would travel in a URL or a form ("+" and "/" as %2B and %2F).
  if (std::string encoded = percent_encoded(secret); encoded != secret) register_one(std::move(encoded));
  register_one(std::move(secret));
}

std::string mask_secrets(std::string_view text) {
  std::string out(text);
  {
    SecretRegistry& r = registry();
    std::shared_lock lock(r.mutex);
    for (const std::string& secret : r.secrets)
      for (auto pos = out.find(secret); pos != std::string::npos; pos = out.find(secret, pos + MASK.size()))
        out.replace(pos, secret.size(), MASK);
  }
  return mask_authorization(std::move(out));
}

std::string outside_text(std::string_view text) { return mask_secrets(strip_terminal_controls(text)); }

nlohmann::ordered_json outside_json(const nlohmann::ordered_json& value) {
  if (value.is_string()) return outside_text(value.get_ref<const std::string&>());
  if (!value.is_structured()) return value;
  nlohmann::ordered_json out = value;
  for (auto& item : out) item = outside_json(item);
  return out;
}

}  // namespace quorvel
