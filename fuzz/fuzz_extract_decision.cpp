// libFuzzer entry: any byte string given to the decision extractor must end in a map, nothing, or
// one of the documented errors, and an accepted map must satisfy the extractor's guarantees.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <spdlog/sinks/null_sink.h>

#include "contracts/errors.h"
#include "quorvel/agent/schemas/decimal.h"
#include "quorvel/agent/schemas/decision.h"
#include "quorvel/agent/schemas/extract.h"
#include "quorvel/agent/schemas/json_fence.h"
#include "quorvel/utils/utf8_text.h"
#include "quorvel/utils/json_text.h"
#include "quorvel/utils/logger.h"

namespace schemas = quorvel::agent::schemas;

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "invariant broken: %s\n", what);
    abort();
  }
}

// The fence in its plain lazy form; compared with the linear pattern on short inputs, where the
// backtracking cost of the lazy form stays small.
std::optional<std::string_view> lazy_fence(std::string_view text) {
  static pcre2_code* code = [] {
    int error = 0;
    PCRE2_SIZE offset = 0;
    return pcre2_compile(reinterpret_cast<PCRE2_SPTR>("```json\\s*\\n(.*?)\\n?\\s*```"), PCRE2_ZERO_TERMINATED,
                         PCRE2_UTF | PCRE2_UCP | PCRE2_DOTALL, &error, &offset, nullptr);
  }();
  static pcre2_match_data* match = pcre2_match_data_create_from_pattern(code, nullptr);
  const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0, match, nullptr);
  if (rc < 0) return std::nullopt;
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(match);
  return text.substr(ov[2], ov[3] - ov[2]);
}

void check_decision(const nlohmann::ordered_json& d) {
  check(d.is_object(), "result is an object");
  check(d.contains("action") && d.contains("direction"), "core keys present");
  for (std::string_view key : schemas::DECISION_PRICE_KEYS) {
    const auto it = d.find(key);
    if (it == d.end() || !it->is_number()) continue;
    check(it->is_number_float(), "numeric prices are reals");
    const double v = it->get<double>();
    check(std::isnan(v) || schemas::round3(v) == v, "prices are rounded to three decimals");
  }
  (void)quorvel::safe_json_dumps(d, false, 2);  // valid UTF-8 throughout, printable
  try {
    const auto record = schemas::StockDecision::from_map(d);
    (void)record.to_json().dump();
  } catch (const schemas::ValidationError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Exercise the log formatting at every level but keep the output quiet.
  auto& backend = quorvel::logger.backend();
  backend.sinks().clear();
  backend.sinks().push_back(std::make_shared<spdlog::sinks::null_sink_mt>());
  backend.set_level(spdlog::level::debug);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  try {
    if (const auto d = schemas::extract_decision_json(input)) check_decision(*d);
  } catch (const quorvel::TypeError&) {
  } catch (const quorvel::ValueError&) {
  }
  if (const auto block = schemas::scan_json_block(input)) {
    check(quorvel::is_valid_utf8(*block), "scanned block is valid UTF-8");
    check(block->front() == '{' && block->back() == '}', "scanned block is braced");
  }
  if (size <= 4096) {
    std::string storage;
    const std::string_view text = quorvel::ensure_valid_utf8(input, storage);
    check(quorvel::is_valid_utf8(text), "decoded text is valid UTF-8");
    check(schemas::find_json_fence(text) == lazy_fence(text), "fence agrees with the lazy pattern");
  }
  return 0;
}
