#pragma once
// What the fuzz targets share: the invariant check that stops the run, quiet logs, and the test of
// text that must have passed the outside-text filter (quorvel/utils/outside_text.h).
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include <spdlog/sinks/null_sink.h>

#include "quorvel/utils/logger.h"
#include "quorvel/utils/utf8_text.h"

namespace fuzz {

inline void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// Every level is formatted (the formatting runs on the input's texts too), nothing is printed.
inline void quiet_logs() {
  auto& backend = quorvel::logger.backend();
  backend.sinks().clear();
  backend.sinks().push_back(std::make_shared<spdlog::sinks::null_sink_mt>());
  backend.set_level(spdlog::level::debug);
}

// Well-formed UTF-8 without escape sequences or controls other than line feed and tab.
inline bool clean_text(std::string_view text) {
  if (!quorvel::is_valid_utf8(text)) return false;
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t cp = quorvel::decode_next(text, pos);
    if ((cp < 0x20 && cp != '\n' && cp != '\t') || (cp >= 0x7F && cp <= 0x9F)) return false;
  }
  return true;
}

}  // namespace fuzz
