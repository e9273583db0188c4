#include "quorvel/strategy/ai/market_bias.h"

#include <memory>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "contracts/errors.h"

namespace quorvel::strategy::ai {

namespace {

// UCP makes \s match every Unicode white-space character, as the brief writer may use full-width
// or no-break spaces around the middle dot. The opening bracket is optional: the brief's heading is
// written "市场研判 · 偏空 / 中" (its format description puts the pair in brackets as a placeholder),
// and a bracket-only pattern would read every real brief as the default.
constexpr char BIAS_PATTERN[] = "市场研判\\s*\u00b7\\s*\\[?\\s*(偏多|震荡|偏空|避险)";

struct CodeDeleter {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* m) const { pcre2_match_data_free(m); }
};

const pcre2_code& bias_pattern() {
  static const std::unique_ptr<pcre2_code, CodeDeleter> code = [] {
    int error = 0;
    PCRE2_SIZE offset = 0;
    std::unique_ptr<pcre2_code, CodeDeleter> c(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(BIAS_PATTERN),
                                                             PCRE2_ZERO_TERMINATED, PCRE2_UTF | PCRE2_UCP, &error,
                                                             &offset, nullptr));
    if (!c) throw RuntimeError("market bias pattern does not compile");
    return c;
  }();
  return *code;
}

}  // namespace

std::string _extract_market_bias(std::string_view brief) {
  if (brief.empty()) return std::string(DEFAULT_MARKET_BIAS);
  const pcre2_code& code = bias_pattern();
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> match(pcre2_match_data_create_from_pattern(&code, nullptr));
  // Without PCRE2_NO_UTF_CHECK an ill-formed brief is reported as an error instead of being read.
  const int rc =
      pcre2_match(&code, reinterpret_cast<PCRE2_SPTR>(brief.data()), brief.size(), 0, 0, match.get(), nullptr);
  if (rc < 2) return std::string(DEFAULT_MARKET_BIAS);
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(match.get());
  return std::string(brief.substr(ovector[2], ovector[3] - ovector[2]));
}

}  // namespace quorvel::strategy::ai
