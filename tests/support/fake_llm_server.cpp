#include "support/fake_llm_server.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include <asio.hpp>
#include <httplib.h>

namespace quorvel::testing {

FakeLlmServer::FakeLlmServer() : server_(std::make_unique<httplib::Server>()) {
  // Enough threads for every request a test keeps in flight at once.
  server_->new_task_queue = [] { return new httplib::ThreadPool(32); };
  server_->Post(R"(/.*)", [this](const httplib::Request& req, httplib::Response& res) {
    RecordedRequest rec{req.path, req.get_header_value("Authorization"), req.body, std::chrono::steady_clock::now()};
    ScriptedReply reply = next(rec);
    if (reply.stall || reply.delay.count() > 0) {
      std::unique_lock lock(mutex_);
      const auto wait = reply.stall ? std::chrono::milliseconds(10000) : reply.delay;
      released_.wait_for(lock, wait, [this] { return stopping_; });
      --active_;
      if (reply.stall) return;
    } else {
      std::lock_guard lock(mutex_);
      --active_;
    }
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers) res.set_header(name, value);
    res.set_content(reply.body, "application/json");
  });
  port_ = server_->bind_to_any_port("127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() is a no-op until the accept loop runs, so a server stopped too early would never end.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeLlmServer::~FakeLlmServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  released_.notify_all();
  server_->stop();
  thread_.join();
}

std::string FakeLlmServer::base_url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/v1"; }

void FakeLlmServer::enqueue(ScriptedReply reply) {
  std::lock_guard lock(mutex_);
  script_.push_back(std::move(reply));
}

std::vector<RecordedRequest> FakeLlmServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void FakeLlmServer::respond_with(Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

int FakeLlmServer::max_concurrent() const {
  std::lock_guard lock(mutex_);
  return max_active_;
}

ScriptedReply FakeLlmServer::next(const RecordedRequest& request) {
  std::lock_guard lock(mutex_);
  requests_.push_back(request);
  max_active_ = std::max(max_active_, ++active_);
  if (served_ < script_.size()) return script_[served_++];
  if (responder_) return responder_(request);
  return ScriptedReply{599, R"({"error":{"message":"script exhausted"}})", {}, false};
}

struct DroppingServer::Impl {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor{io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)};
  std::atomic<int> connections{0};
  std::thread thread;

  void accept() {
    acceptor.async_accept([this](std::error_code ec, asio::ip::tcp::socket socket) {
      if (ec) return;
      ++connections;
      auto s = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
      auto buffer = std::make_shared<std::array<char, 4096>>();
      s->async_read_some(asio::buffer(*buffer), [s, buffer](std::error_code, std::size_t) {
        std::error_code ignored;
        s->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        s->close(ignored);
      });
      accept();
    });
  }
};

DroppingServer::DroppingServer() : impl_(std::make_unique<Impl>()) {
  impl_->accept();
  impl_->thread = std::thread([this] { impl_->io.run(); });
}

DroppingServer::~DroppingServer() {
  impl_->io.stop();
  impl_->thread.join();
}

std::string DroppingServer::base_url() const {
  return "http://127.0.0.1:" + std::to_string(impl_->acceptor.local_endpoint().port()) + "/v1";
}

int DroppingServer::connections() const { return impl_->connections.load(); }

std::string completion_body(const std::string& content, const std::string& reasoning, const nlohmann::json& usage) {
  nlohmann::json message = {{"role", "assistant"}, {"content", content}};
  if (!reasoning.empty()) message["reasoning_content"] = reasoning;
  nlohmann::json body = {{"id", "chatcmpl-1"},
                         {"object", "chat.completion"},
                         {"model", "fake-model-0601"},
                         {"choices", {{{"index", 0}, {"message", message}, {"finish_reason", "stop"}}}}};
  if (!usage.is_null()) body["usage"] = usage;
  return body.dump();
}

}  // namespace quorvel::testing
