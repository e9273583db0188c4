// libFuzzer entry: a chat-completions reply body. The first byte picks the provider row (every
// chat-completions row of the provider table), whether a key is configured and whether a blank
// answer is kept; the rest is the body. The client catches LlmError only; a parsed reply carries
// only filtered text, never the key, and an answer that is not blank unless blank ones are kept.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "quorvel/agent/core/chat_protocol.h"
#include "quorvel/utils/outside_text.h"

namespace core = quorvel::agent::core;

namespace {

constexpr std::string_view KEY = "sk-fuzz-7c1d0e5a9b";

bool blank(std::string_view s) { return s.find_first_not_of(" \t\n\v\f\r") == std::string_view::npos; }

const std::vector<core::ProviderConfig>& configs() {
  static const std::vector<core::ProviderConfig> all = [] {
    std::vector<core::ProviderConfig> out;
    for (const auto& row : core::provider_table()) {
      if (row.kind != core::ClientKind::chat_completions) continue;
      core::ProviderConfig c;
      c.type = std::string(row.type);
      c.kind = row.kind;
      c.base_url = row.default_base_url.empty() ? "http://127.0.0.1:9/v1" : std::string(row.default_base_url);
      c.model = row.default_model.empty() ? "local-model" : std::string(row.default_model);
      c.key_variable = core::env_prefix(row.type) + "_API_KEY";
      c.thinking_style = row.thinking_style;
      c.thinking = row.default_thinking;
      c.max_tokens = row.default_max_tokens;
      out.push_back(std::move(c));
    }
    return out;
  }();
  return all;
}

void check_text(std::string_view text, const char* what) {
  fuzz::check(fuzz::clean_text(text), what);
  fuzz::check(text.find(KEY) == std::string_view::npos, "the key never shows");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_logs();
  quorvel::register_secret(std::string(KEY));  // as the provider configuration does with a key it reads
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto& all = configs();
  core::ProviderConfig config = all[data[0] % all.size()];
  if (data[0] & 0x40) config.api_key = std::string(KEY);
  const bool keep_blank = (data[0] & 0x80) != 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    const core::ParsedReply parsed = core::parse_chat_reply(config, body, keep_blank);
    check_text(parsed.reply.content, "the answer is filtered");
    check_text(parsed.reply.reasoning_content, "the reasoning is filtered");
    check_text(parsed.reply.model, "the model name is filtered");
    check_text(parsed.finish_reason, "the finish reason is filtered");
    fuzz::check(keep_blank || !blank(parsed.reply.content), "a blank answer is an error");
    const auto& u = parsed.reply.usage;
    fuzz::check(u.prompt_tokens >= -1 && u.completion_tokens >= -1 && u.cache_hit_tokens >= -1,
                "token counts are counts or absent");
  } catch (const core::LlmError& e) {
    check_text(e.what(), "the error text is filtered");
    fuzz::check(e.status() == 200, "a reply error keeps the status of the reply");
  }
  return 0;
}
