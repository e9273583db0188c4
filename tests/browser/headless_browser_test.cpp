#include "support/headless_browser.h"

#include <cstdint>
#include <stdexcept>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace quorvel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* NO_OUTSIDE_CSP =
    R"(<meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'; img-src data:">)";

std::string page_with(const std::string& head, const std::string& body) {
  return "<!doctype html><html><head><meta charset=\"utf-8\">" + head +
         "<style>body { margin: 0 }</style></head><body>" + body + "</body></html>";
}

// Width and height (pixels) from the IHDR chunk of a PNG file.
std::pair<std::uint32_t, std::uint32_t> png_size(const std::filesystem::path& png) {
  const std::string bytes = read_file(png);
  if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return {0, 0};
  auto be32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return v;
  };
  return {be32(16), be32(20)};
}

TEST(HeadlessBrowser, ProbeReadsDomTextAndSvgGeometryAndScreenshotHasTheWindowSize) {
  QUORVEL_NEEDS_BROWSER();
  TempDir dir;
  const auto page = dir / "page.html";
  write_file(page, page_with(NO_OUTSIDE_CSP,
                             "<h1 style=\"margin: 0; height: 40px\">价格 &lt;&amp;&gt; 10</h1>"
                             "<ul><li>a</li><li>b</li><li>c</li></ul>"
                             "<svg style=\"position: absolute; left: 100px; top: 200px\" width=\"300\" height=\"150\">"
                             "<line x1=\"10\" y1=\"20\" x2=\"110\" y2=\"20\" stroke=\"black\"/>"
                             "<rect x=\"30\" y=\"40\" width=\"50\" height=\"25\"/></svg>"));
  const auto probe = probe_page(page, R"(
    const box = doc.querySelector('line').getBBox();
    const rect = doc.querySelector('rect').getBoundingClientRect();
    return {title: doc.querySelector('h1').textContent, items: doc.querySelectorAll('li').length,
            line: [box.x, box.y, box.width, box.height], rect: [rect.left, rect.top, rect.width, rect.height],
            frame: [win.innerWidth, win.innerHeight]};)");
  EXPECT_EQ(probe.result["title"], "价格 <&> 10");
  EXPECT_EQ(probe.result["items"], 3);
  EXPECT_THAT(probe.result["line"], ElementsAre(10, 20, 100, 0));
  EXPECT_THAT(probe.result["rect"], ElementsAre(130, 240, 50, 25));
  EXPECT_THAT(probe.result["frame"], ElementsAre(1280, 2000));
  EXPECT_THAT(probe.outside_requests, IsEmpty());
  // A probe that throws fails the call instead of giving a result.
  EXPECT_THROW(probe_page(page, "return doc.querySelector('p').getBBox();"), std::runtime_error);

  const auto png = screenshot_dir() / "headless_browser_probe.png";
  screenshot(page, png, 400, 300);
  EXPECT_EQ(png_size(png), std::make_pair(400u, 300u));
}

TEST(HeadlessBrowser, OutsideRequestsAreCaughtUnlessThePolicyBlocksThem) {
  QUORVEL_NEEDS_BROWSER();
  TempDir dir;
  const std::string body = "<p>x</p><img src=\"http://cdn.example.invalid/a.png\">";
  const std::string sheet = "<link rel=\"stylesheet\" href=\"https://cdn.example.invalid/s.css\">";
  write_file(dir / "open.html", page_with(sheet, body));
  write_file(dir / "closed.html", page_with(NO_OUTSIDE_CSP + sheet, body));
  const std::string count_paragraphs = "return doc.querySelectorAll('p').length;";

  const auto open = probe_page(dir / "open.html", count_paragraphs);
  EXPECT_EQ(open.result, 1);
  EXPECT_THAT(open.outside_requests, ::testing::UnorderedElementsAre(HasSubstr("GET http://cdn.example.invalid/a.png "),
                                                                     HasSubstr("CONNECT cdn.example.invalid:443 ")));

  const auto closed = probe_page(dir / "closed.html", count_paragraphs);
  EXPECT_EQ(closed.result, 1);
  EXPECT_THAT(closed.outside_requests, IsEmpty());
}

}  // namespace
}  // namespace quorvel::testing
