#pragma once
// A scripted OpenAI-compatible chat-completions server on 127.0.0.1 (random port), and a server that
// drops every connection without answering. Both run on their own thread for the life of the object.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace httplib {
class Server;
}

namespace quorvel::testing {

struct ScriptedReply {
  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  bool stall = false;  // never answer (until the server shuts down)
  std::chrono::milliseconds delay{0};  // answer after this long (a model's latency)
};

struct RecordedRequest {
  std::string path;
  std::string authorization;
  std::string body;
  std::chrono::steady_clock::time_point received{};
};

// Chooses the reply to a request from its content (used once the script is spent).
using Responder = std::function<ScriptedReply(const RecordedRequest&)>;

class FakeLlmServer {
 public:
  FakeLlmServer();
  ~FakeLlmServer();
  FakeLlmServer(const FakeLlmServer&) = delete;
  FakeLlmServer& operator=(const FakeLlmServer&) = delete;

  // "http://127.0.0.1:<port>/v1"
  std::string base_url() const;
  // Replies are served in order; once the script is spent every request gets the responder's
  // reply, or a 599 error without one.
  void enqueue(ScriptedReply reply);
  void respond_with(Responder responder);
  // The most requests the server was answering at one time.
  int max_concurrent() const;
  std::vector<RecordedRequest> requests() const;
  std::size_t request_count() const { return requests().size(); }

 private:
  ScriptedReply next(const RecordedRequest& request);

  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool stopping_ = false;
  std::vector<ScriptedReply> script_;
  Responder responder_;
  std::size_t served_ = 0;
  int active_ = 0, max_active_ = 0;
  std::vector<RecordedRequest> requests_;
};

// Accepts connections, reads the request and closes without a byte of answer.
class DroppingServer {
 public:
  DroppingServer();
  ~DroppingServer();
  std::string base_url() const;
  int connections() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A successful chat-completions body.
std::string completion_body(const std::string& content, const std::string& reasoning = "",
                            const nlohmann::json& usage = {{"prompt_tokens", 11}, {"completion_tokens", 7}});

}  // namespace quorvel::testing
