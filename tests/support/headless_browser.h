#pragma once
// Opens an HTML page in a headless Chromium and hands back what a page test checks: values the
// browser computed (DOM, layout, SVG geometry), the requests the page tried to send anywhere, and
// screenshots. Every Chromium start gets a fresh profile in a temp directory and a proxy on
// 127.0.0.1 that records each connection and refuses it, so nothing leaves the machine.
// The chromium binary is $QUORVEL_CHROMIUM, else /usr/bin/chromium. Thread-compatible: calls
// share no state and may run in parallel (each costs one Chromium start, about half a second).
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace quorvel::testing {

struct PageProbe {
  nlohmann::json result;  // what the probe returned, through JSON.stringify
  // First request line of every connection the page opened, loopback included, e.g.
  // "GET http://cdn.example/x.png HTTP/1.1" or "CONNECT cdn.example:443 HTTP/1.1".
  std::vector<std::string> outside_requests;
};

// Loads `page` (a local HTML file) in a 1280x2000 frame and, once it has loaded, runs
// `function probe(doc, win) { <probe_js> }` with the page's document and window; the value it
// returns comes back in `result`. The probe runs in the browser, so getBBox() or
// getBoundingClientRect() give the geometry Chromium laid out. probe_js must not contain
// "</script>". Throws std::runtime_error when the probe throws or gives no result (the message
// holds the JavaScript error or Chromium's standard error).
PageProbe probe_page(const std::filesystem::path& page, const std::string& probe_js);

// Writes a PNG of `page` rendered in a width x height window (pixels), outside requests refused.
void screenshot(const std::filesystem::path& page, const std::filesystem::path& png, int width = 1280,
                int height = 2000);

// <build dir>/screenshots, created on demand: where tests leave screenshots for people to review.
std::filesystem::path screenshot_dir();

// Why the browser cannot be used (binary missing or `--version` fails); nullopt when it can.
std::optional<std::string> browser_missing();
inline bool browser_available() { return !browser_missing(); }

// QUORVEL_REQUIRE_BROWSER=1: a missing browser fails the tests that need it instead of skipping them.
bool browser_required();

}  // namespace quorvel::testing

// First statement of a test that opens a browser: skips it when Chromium is missing, or fails it
// when the environment requires the browser.
#define QUORVEL_NEEDS_BROWSER()                                                   \
  do {                                                                            \
    if (const auto quorvel_why = ::quorvel::testing::browser_missing()) {         \
      if (::quorvel::testing::browser_required()) FAIL() << *quorvel_why;         \
      GTEST_SKIP() << *quorvel_why << " (set QUORVEL_REQUIRE_BROWSER=1 to fail)"; \
    }                                                                             \
  } while (0)
