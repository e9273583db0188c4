#pragma once
// The chat-completions wire format: request body, reply parsing, provider error texts. Pure
// functions over values and bytes, no I/O.
#include <string>
#include <string_view>
#include <vector>

#include "contracts/errors.h"
#include "contracts/llm_agent.h"
#include "quorvel/agent/core/provider_config.h"
#include "quorvel/utils/outside_text.h"

namespace quorvel::agent::core {

// A failed chat call. `status` is the HTTP status (0 when no answer arrived); `retryable` says
// whether repeating the same request may succeed. The text quotes the provider's answer, so it is
// filtered as outside text: no terminal controls, no registered secret (callers also redact the
// configured key).
class LlmError : public RuntimeError {
 public:
  LlmError(const std::string& message, long status, bool retryable)
      : RuntimeError(outside_text(message)), status_(status), retryable_(retryable) {}
  long status() const { return status_; }
  bool retryable() const { return retryable_; }

 private:
  long status_;
  bool retryable_;
};

// "<base>/chat/completions"; a base that already ends in that path is kept.
std::string chat_completions_url(std::string_view base_url);

// A URL fit for logs and error texts: user information and query string removed.
std::string display_url(std::string_view url);

// JSON body of a non-streaming request, with the provider's thinking switch sent explicitly.
std::string build_chat_request_body(const ProviderConfig& config, const std::vector<ChatMessage>& messages);

struct ParsedReply {
  ChatReply reply;
  std::string finish_reason;  // "stop", "length", ... or empty when not reported
};

// Parses a 2xx reply body. The answer, its reasoning and the model name are outside text: they come
// back filtered (outside_text.h) and with the configured key masked, so that neither a terminal
// control nor the key reaches a log, a report or the queue. Fails with an LlmError: retryable for
// an empty or blank body and for a blank answer; not retryable for a body that is not JSON, has no
// choices, carries an error object, or whose answer is empty because the token limit cut it off.
// With `keep_blank_answer` a blank answer is no error: the reply is returned with it.
ParsedReply parse_chat_reply(const ProviderConfig& config, std::string_view body, bool keep_blank_answer = false);

// The provider's own message from an error body ("error.message", "message", "error" as text),
// or the start of the body; filtered as outside text, white space collapsed, at most `max_chars`
// bytes at a UTF-8 boundary.
std::string provider_error_message(std::string_view body, std::size_t max_chars = 300);

// Error for a non-2xx status: names the provider, the status, the provider's message and what the
// operator can check.
LlmError http_status_error(const ProviderConfig& config, long status, std::string_view body);

// Every occurrence of `secret` replaced by "***" (nothing happens for an empty secret).
std::string redact(std::string text, std::string_view secret);

}  // namespace quorvel::agent::core
