#pragma once
// A K-line host on 127.0.0.1 (random port) for the online market-data tests and benchmark, also
// serving as the webhook of the delivery tests. Every GET and POST is answered by the handler
// (scripted replies, recorded files or generated bars), optionally after a delay, cut short (a
// truncated answer: the advertised length is never sent) or never.
// Runs on its own threads for the life of the object.
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace quorvel::testing {

struct KlineReply {
  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  std::chrono::milliseconds delay{0};
  bool truncate = false;  // send half the body under a Content-Length of the whole, then close
};

struct KlineRequest {
  std::string path;
  std::map<std::string, std::string> params;   // decoded query parameters
  std::map<std::string, std::string> headers;  // as sent
  std::string body;                            // of a POST
};

class FakeKlineServer {
 public:
  using Handler = std::function<KlineReply(const KlineRequest&)>;
  explicit FakeKlineServer(Handler handler = {}, int threads = 8);
  ~FakeKlineServer();
  FakeKlineServer(const FakeKlineServer&) = delete;
  FakeKlineServer& operator=(const FakeKlineServer&) = delete;

  std::string base_url() const;  // "http://127.0.0.1:<port>"
  void set_handler(Handler handler);
  std::vector<KlineRequest> requests() const;
  std::size_t request_count() const;

 private:
  std::unique_ptr<httplib::Server> server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  Handler handler_;
  std::vector<KlineRequest> requests_;
  std::atomic<bool> stopping_{false};
};

// Replies served in order, one per request; once spent, every request gets HTTP 599.
FakeKlineServer::Handler scripted_replies(std::vector<KlineReply> replies);

// An Eastmoney reply with one bar per weekday of [beg, end] (YYYYMMDD params) not after `until`
// ("YYYY-MM-DD"; empty: no limit): prices drift from 10.00 by the day number, volume in lots.
std::string generated_eastmoney_reply(const KlineRequest& request, const std::string& until);

}  // namespace quorvel::testing
