#pragma once
// A scripted OpenAI-compatible chat-completions server on 127.0.0.1 (random port), and a server that
// drops every connection without answering. Both run on their own thread for the life of the object.
#include <condition_variable>
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
};

struct RecordedRequest {
  std::string path;
  std::string authorization;
  std::string body;
};

class FakeLlmServer {
 public:
  FakeLlmServer();
  ~FakeLlmServer();
  FakeLlmServer(const FakeLlmServer&) = delete;
  FakeLlmServer& operator=(const FakeLlmServer&) = delete;

  // "http://127.0.0.1:<port>/v1"
  std::string base_url() const;
  // Replies are served in order; once the script is spent every request gets a 599 error.
  void enqueue(ScriptedReply reply);
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
  std::size_t served_ = 0;
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
