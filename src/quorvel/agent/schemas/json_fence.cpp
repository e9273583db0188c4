#include "quorvel/agent/schemas/json_fence.h"

#include <memory>
#include <string>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "contracts/errors.h"

namespace quorvel::agent::schemas {

namespace {

// Matches exactly what "```json\s*\n(.*?)\n?\s*```" (dot matching line breaks) matches, written so
// that no position of the reply is examined more than a bounded number of times:
//  - the opening white space is atomic: it ends at its last line feed, and when no closing fence
//    follows, earlier line feeds cannot help either;
//  - the content is a possessive run of tokens (non-blank runs, single backticks, maximal white-space
//    runs not followed by three backticks), so it stops exactly where the lazy form would stop:
//    at the first white-space run or backtick triple that leads into the closing fence.
constexpr char FENCE_PATTERN[] =
    "```json(?>\\s*\\n)((?>[^\\s`]++|`(?!``)|\\s++(?!```))*+)\\s*```";

struct CodeDeleter {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* m) const { pcre2_match_data_free(m); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* m) const { pcre2_match_context_free(m); }
};

struct CompiledFence {
  std::unique_ptr<pcre2_code, CodeDeleter> code;
  std::unique_ptr<pcre2_match_context, MatchContextDeleter> context;
  bool jit = false;
};

const CompiledFence& compiled_fence() {
  static const CompiledFence fence = [] {
    CompiledFence f;
    int error = 0;
    PCRE2_SIZE offset = 0;
    f.code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(FENCE_PATTERN), PCRE2_ZERO_TERMINATED,
                               PCRE2_UTF | PCRE2_UCP | PCRE2_DOTALL, &error, &offset, nullptr));
    if (!f.code) throw quorvel::RuntimeError("json fence pattern does not compile");
    f.jit = pcre2_jit_compile(f.code.get(), PCRE2_JIT_COMPLETE) == 0;
    // The pattern is linear by construction; the default limits are sized for patterns that are not.
    f.context.reset(pcre2_match_context_create(nullptr));
    pcre2_set_match_limit(f.context.get(), 0xFFFFFFFFu);
    pcre2_set_depth_limit(f.context.get(), 0xFFFFFFFFu);
    return f;
  }();
  return fence;
}

}  // namespace

std::optional<std::string_view> find_json_fence(std::string_view text) {
  const CompiledFence& fence = compiled_fence();
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> match(
      pcre2_match_data_create_from_pattern(fence.code.get(), nullptr));
  const auto subject = reinterpret_cast<PCRE2_SPTR>(text.data());
  int rc = pcre2_match(fence.code.get(), subject, text.size(), 0, PCRE2_NO_UTF_CHECK, match.get(),
                       fence.context.get());
  if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
    rc = pcre2_match(fence.code.get(), subject, text.size(), 0, PCRE2_NO_UTF_CHECK | PCRE2_NO_JIT, match.get(),
                     fence.context.get());
  }
  if (rc == PCRE2_ERROR_NOMATCH) return std::nullopt;
  if (rc < 0) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(rc, message, sizeof message);
    throw quorvel::RuntimeError(std::string("json fence search failed: ") + reinterpret_cast<const char*>(message));
  }
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(match.get());
  return text.substr(ovector[2], ovector[3] - ovector[2]);
}

}  // namespace quorvel::agent::schemas
