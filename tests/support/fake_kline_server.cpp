#include "support/fake_kline_server.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include <date/date.h>
#include <fmt/format.h>
#include <httplib.h>

namespace quorvel::testing {

FakeKlineServer::FakeKlineServer(Handler handler, int threads)
    : server_(std::make_unique<httplib::Server>()), handler_(std::move(handler)) {
  server_->new_task_queue = [threads] { return new httplib::ThreadPool(std::size_t(threads)); };
  const auto answer = [this](const httplib::Request& req, httplib::Response& res) {
    KlineRequest rec{req.path, {}, {}, req.body};
    for (const auto& [k, v] : req.params) rec.params[k] = v;
    for (const auto& [k, v] : req.headers) rec.headers[k] = v;
    Handler handler;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(rec);
      handler = handler_;
    }
    KlineReply reply = handler ? handler(rec) : KlineReply{404, "no handler", {}, {}, false};
    for (auto waited = std::chrono::milliseconds(0); waited < reply.delay && !stopping_;
         waited += std::chrono::milliseconds(5))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers) res.set_header(name, value);
    if (!reply.truncate) {
      res.set_content(reply.body, "application/json");
      return;
    }
    auto body = std::make_shared<std::string>(reply.body);
    res.set_content_provider(body->size(), "application/json",
                             [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                               if (offset > 0) return false;  // drop the connection after the first half
                               sink.write(body->data(), body->size() / 2);
                               return true;
                             });
  };
  server_->Get(R"(/.*)", answer);
  server_->Post(R"(/.*)", answer);
  port_ = server_->bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeKlineServer::~FakeKlineServer() {
  stopping_ = true;
  server_->stop();
  thread_.join();
}

std::string FakeKlineServer::base_url() const { return "http://127.0.0.1:" + std::to_string(port_); }

void FakeKlineServer::set_handler(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<KlineRequest> FakeKlineServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t FakeKlineServer::request_count() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

FakeKlineServer::Handler scripted_replies(std::vector<KlineReply> replies) {
  auto state = std::make_shared<std::pair<std::mutex, std::size_t>>();
  auto script = std::make_shared<std::vector<KlineReply>>(std::move(replies));
  return [state, script](const KlineRequest&) {
    std::lock_guard lock(state->first);
    if (state->second < script->size()) return (*script)[state->second++];
    return KlineReply{599, "script exhausted", {}, {}, false};
  };
}

namespace {

std::optional<date::sys_days> compact_date(const std::string& t) {
  int y = 0, m = 0, d = 0;
  if (t.size() != 8 || std::sscanf(t.c_str(), "%4d%2d%2d", &y, &m, &d) != 3) return std::nullopt;
  const date::year_month_day ymd{date::year{y}, date::month{unsigned(m)}, date::day{unsigned(d)}};
  if (!ymd.ok()) return std::nullopt;
  return date::sys_days{ymd};
}

}  // namespace

std::string generated_eastmoney_reply(const KlineRequest& request, const std::string& until) {
  const auto param = [&](const char* k) {
    const auto it = request.params.find(k);
    return it == request.params.end() ? std::string() : it->second;
  };
  auto first = compact_date(param("beg")), last = compact_date(param("end"));
  if (!first || !last) return R"({"rc":102,"data":null})";
  if (!until.empty()) {
    std::string compact = until;
    compact.erase(std::remove(compact.begin(), compact.end(), '-'), compact.end());
    if (const auto cap = compact_date(compact); cap && *cap < *last) last = cap;
  }
  std::string klines;
  for (auto d = *first; d <= *last; d += date::days{1}) {
    const date::weekday wd{d};
    if (wd == date::Saturday || wd == date::Sunday) continue;
    const double base = 10.0 + double(d.time_since_epoch().count() % 100) / 100.0;
    if (!klines.empty()) klines += ',';
    klines += fmt::format(R"("{},{:.2f},{:.2f},{:.2f},{:.2f},{},{:.2f}")", date::format("%F", d), base, base + 0.05,
                          base + 0.10, base - 0.05, 12345, 12345 * 100 * base);
  }
  const std::string secid = param("secid");
  return fmt::format(R"({{"rc":0,"data":{{"code":"{}","name":"测试{}","klines":[{}]}}}})", secid.substr(secid.find('.') + 1),
                     secid.substr(secid.find('.') + 1), klines);
}

}  // namespace quorvel::testing
