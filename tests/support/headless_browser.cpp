#include "support/headless_browser.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <asio/buffer.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/read_until.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>
#include <fmt/format.h>

#include "support/test_support.h"

namespace quorvel::testing {
namespace {

using asio::ip::tcp;

constexpr const char* DEFAULT_CHROMIUM = "/usr/bin/chromium";
constexpr int VIRTUAL_TIME_BUDGET_MS = 10000;  // page time Chromium lets pass before it dumps or shoots
constexpr int CHROMIUM_TIMEOUT_S = 60;         // wall time after which a hung Chromium is killed

// Hosts Chromium itself contacts at every start (sign-in state, on-demand component updates,
// network time), even for about:blank and with background networking off. A report page has no
// business with them, so their connections are refused like any other but not counted.
constexpr std::array BROWSER_OWN_HOSTS = {"accounts.google.com", "update.googleapis.com", "clients2.google.com"};

// Flags of every start: no sandbox (tests may run as root), no GPU, and as little of Chromium's own
// networking as it allows; every request goes to the catcher, loopback included ("<-loopback>").
constexpr const char* COMMON_FLAGS =
    "--headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking "
    "--disable-component-update --disable-sync --disable-extensions --hide-scrollbars "
    "--disable-features=NetworkTimeServiceQuerying --proxy-bypass-list='<-loopback>'";

std::string chromium_binary() {
  const char* configured = std::getenv("QUORVEL_CHROMIUM");
  return configured && *configured ? configured : DEFAULT_CHROMIUM;
}

std::string shell_quote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string file_url(const std::filesystem::path& file) {
  std::string url = "file://";
  for (unsigned char c : std::filesystem::absolute(file).lexically_normal().string()) {
    if (std::isalnum(c) || std::string_view("/-._~").find(char(c)) != std::string_view::npos) {
      url += char(c);
    } else {
      url += fmt::format("%{:02X}", c);
    }
  }
  return url;
}

// "GET http://host:80/x HTTP/1.1" and "CONNECT host:443 HTTP/1.1" -> "host".
std::string request_host(const std::string& line) {
  const auto start = line.find(' ');
  if (start == std::string::npos) return {};
  std::string target = line.substr(start + 1, line.find(' ', start + 1) - start - 1);
  if (const auto scheme = target.find("://"); scheme != std::string::npos) target.erase(0, scheme + 3);
  target = target.substr(0, target.find('/'));
  return target.substr(0, target.find(':'));
}

// An HTTP proxy on 127.0.0.1 that records the first line of every request it receives and answers
// 502. Runs on its own thread until finish().
class RequestCatcher {
 public:
  RequestCatcher()
      : acceptor_(io_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
        port_(acceptor_.local_endpoint().port()) {
    accept();
    thread_ = std::thread([this] {
      io_.run();
      std::lock_guard lock(mutex_);
      idle_ = true;
      idle_changed_.notify_all();
    });
  }
  ~RequestCatcher() { stop(); }
  RequestCatcher(const RequestCatcher&) = delete;
  RequestCatcher& operator=(const RequestCatcher&) = delete;

  unsigned short port() const { return port_; }

  // Call once the browser has exited: answers the connections still queued, then stops.
  std::vector<std::string> finish() {
    asio::post(io_, [this] {
      std::error_code ec;
      acceptor_.non_blocking(true, ec);
      for (tcp::socket socket = acceptor_.accept(ec); !ec; socket = acceptor_.accept(ec))
        serve(std::make_shared<Connection>(std::move(socket)));
      acceptor_.close(ec);
    });
    {
      // Every peer is gone, so each connection ends at once; the bound only guards against a
      // browser helper process that outlived its parent.
      std::unique_lock lock(mutex_);
      idle_changed_.wait_for(lock, std::chrono::seconds(5), [this] { return idle_; });
    }
    stop();
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  struct Connection {
    explicit Connection(tcp::socket s) : socket(std::move(s)) {}
    tcp::socket socket;
    asio::streambuf buffer;
  };

  void accept() {
    acceptor_.async_accept([this](std::error_code ec, tcp::socket socket) {
      if (ec) return;
      serve(std::make_shared<Connection>(std::move(socket)));
      accept();
    });
  }

  void serve(const std::shared_ptr<Connection>& connection) {
    asio::async_read_until(
        connection->socket, connection->buffer, "\r\n", [this, connection](std::error_code ec, std::size_t n) {
          if (ec) return;  // a connection opened ahead of need and closed unused: no request
          std::string line(asio::buffers_begin(connection->buffer.data()),
                           asio::buffers_begin(connection->buffer.data()) + n - 2);
          {
            std::lock_guard lock(mutex_);
            requests_.push_back(std::move(line));
          }
          static constexpr std::string_view REFUSAL =
              "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
          asio::async_write(connection->socket, asio::buffer(REFUSAL), [connection](std::error_code, std::size_t) {
            std::error_code ignored;
            connection->socket.shutdown(tcp::socket::shutdown_both, ignored);
          });
        });
  }

  void stop() {
    io_.stop();
    if (thread_.joinable()) thread_.join();
  }

  asio::io_context io_;
  tcp::acceptor acceptor_;
  unsigned short port_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable idle_changed_;
  bool idle_ = false;
  std::vector<std::string> requests_;
};

std::string stderr_tail(const std::string& err) {
  std::string kept;
  std::size_t from = 0;
  while (from < err.size()) {
    const auto end = std::min(err.find('\n', from), err.size());
    const std::string_view line(err.data() + from, end - from);
    if (line.find("Failed to connect to the bus") == std::string_view::npos) kept.append(line) += '\n';
    from = end + 1;
  }
  return kept.size() > 4000 ? kept.substr(kept.size() - 4000) : kept;
}

struct BrowserRun {
  ProgramRun program;
  std::vector<std::string> outside_requests;
};

// Runs Chromium with a fresh profile under `scratch` and every request sent to a catcher.
BrowserRun run_chromium(const std::string& flags, const std::filesystem::path& scratch) {
  RequestCatcher catcher;
  const auto args =
      fmt::format("{} --user-data-dir={} --proxy-server=http://127.0.0.1:{} --virtual-time-budget={} {}", COMMON_FLAGS,
                  shell_quote((scratch / "profile").string()), catcher.port(), VIRTUAL_TIME_BUDGET_MS, flags);
  BrowserRun run;
  run.program =
      run_program(fmt::format("timeout -k 5 {} {}", CHROMIUM_TIMEOUT_S, shell_quote(chromium_binary())), args, scratch);
  for (auto& line : catcher.finish()) {
    const auto host = request_host(line);
    if (std::find(BROWSER_OWN_HOSTS.begin(), BROWSER_OWN_HOSTS.end(), host) == BROWSER_OWN_HOSTS.end())
      run.outside_requests.push_back(std::move(line));
  }
  return run;
}

constexpr int FRAME_WIDTH = 1280;
constexpr int FRAME_HEIGHT = 2000;

// The harness document loads the page in a frame and, once everything has loaded, writes the
// probe's outcome as JSON into #probe-result, which --dump-dom then prints.
std::string harness_html(const std::filesystem::path& page, const std::string& probe_js) {
  return fmt::format(R"(<!doctype html>
<html><head><meta charset="utf-8"><style>body {{ margin: 0 }} iframe {{ border: 0; display: block }}</style></head>
<body><pre id="probe-result" hidden></pre>
<iframe id="page" width="{}" height="{}" src="{}"></iframe>
<script>
function probe(doc, win) {{
{}
}}
window.addEventListener('load', () => {{
  const frame = document.getElementById('page');
  let out;
  try {{
    out = {{ok: true, value: probe(frame.contentDocument, frame.contentWindow)}};
  }} catch (e) {{
    out = {{ok: false, error: String((e && e.stack) || e)}};
  }}
  document.getElementById('probe-result').textContent = JSON.stringify(out);
}});
</script></body></html>
)",
                     FRAME_WIDTH, FRAME_HEIGHT, file_url(page), probe_js);
}

// Undoes the escaping --dump-dom applies to text: &amp; &lt; &gt; &quot; and &nbsp; (U+00A0).
std::string html_unescape(std::string_view text) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 5> ENTITIES = {
      {{"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&nbsp;", "\xC2\xA0"}}};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto entity = std::find_if(ENTITIES.begin(), ENTITIES.end(),
                                     [&](const auto& e) { return text.substr(i).starts_with(e.first); });
    if (entity == ENTITIES.end()) {
      out += text[i++];
    } else {
      out += entity->second;
      i += entity->first.size();
    }
  }
  return out;
}

std::optional<std::string> probe_output(const std::string& dom) {
  const auto element = dom.find(R"(<pre id="probe-result")");
  const auto start = element == std::string::npos ? element : dom.find('>', element);
  if (start == std::string::npos) return std::nullopt;
  const auto end = dom.find("</pre>", start);
  if (end == std::string::npos || end == start + 1) return std::nullopt;
  return html_unescape(std::string_view(dom).substr(start + 1, end - start - 1));
}

}  // namespace

PageProbe probe_page(const std::filesystem::path& page, const std::string& probe_js) {
  if (!std::filesystem::is_regular_file(page)) throw std::runtime_error("probe_page: no page at " + page.string());
  TempDir scratch;
  const auto harness = scratch / "harness.html";
  write_file(harness, harness_html(page, probe_js));
  auto run = run_chromium(fmt::format("--allow-file-access-from-files --window-size={},{} --dump-dom {}", FRAME_WIDTH,
                                      FRAME_HEIGHT, shell_quote(file_url(harness))),
                          scratch.path());
  const auto output = probe_output(run.program.out);
  if (!output)
    throw std::runtime_error(fmt::format("probe_page({}): no probe result; chromium exit {}:\n{}", page.string(),
                                         run.program.status, stderr_tail(run.program.err)));
  auto outcome = nlohmann::json::parse(*output);
  if (!outcome.value("ok", false))
    throw std::runtime_error(
        fmt::format("probe_page({}): the probe failed: {}", page.string(), outcome.value("error", std::string("?"))));
  return {outcome.value("value", nlohmann::json()), std::move(run.outside_requests)};
}

void screenshot(const std::filesystem::path& page, const std::filesystem::path& png, int width, int height) {
  if (!std::filesystem::is_regular_file(page)) throw std::runtime_error("screenshot: no page at " + page.string());
  TempDir scratch;
  std::error_code ignored;
  std::filesystem::remove(png, ignored);
  const auto run =
      run_chromium(fmt::format("--window-size={},{} --screenshot={} {}", width, height,
                               shell_quote(std::filesystem::absolute(png).string()), shell_quote(file_url(page))),
                   scratch.path());
  if (!std::filesystem::exists(png) || std::filesystem::file_size(png) == 0)
    throw std::runtime_error(fmt::format("screenshot({}): no PNG written; chromium exit {}:\n{}", page.string(),
                                         run.program.status, stderr_tail(run.program.err)));
}

std::filesystem::path screenshot_dir() {
  const auto dir = std::filesystem::path(QUORVEL_BUILD_DIR) / "screenshots";
  std::filesystem::create_directories(dir);
  return dir;
}

std::optional<std::string> browser_missing() {
  static const std::optional<std::string> why = []() -> std::optional<std::string> {
    const auto binary = chromium_binary();
    if (!std::filesystem::exists(binary))
      return fmt::format("no Chromium at {} (install the Debian package chromium or set QUORVEL_CHROMIUM)", binary);
    TempDir scratch;
    const auto run = run_program(shell_quote(binary), "--version", scratch.path());
    if (run.status != 0)
      return fmt::format("{} --version failed (exit {}): {}", binary, run.status, stderr_tail(run.err));
    return std::nullopt;
  }();
  return why;
}

bool browser_required() {
  const char* required = std::getenv("QUORVEL_REQUIRE_BROWSER");
  return required && std::string_view(required) == "1";
}

}  // namespace quorvel::testing
