#include "support/redis_server.h"

#include <hiredis/hiredis.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include "support/free_port.h"

namespace quorvel::testing {

namespace {

struct ContextDeleter {
  void operator()(redisContext* c) const { redisFree(c); }
};

void collect(const redisReply* r, std::vector<std::string>& out) {
  if (!r) return;
  if (r->type == REDIS_REPLY_ARRAY) {
    for (size_t i = 0; i < r->elements; ++i) collect(r->element[i], out);
  } else if (r->type == REDIS_REPLY_STRING || r->type == REDIS_REPLY_STATUS || r->type == REDIS_REPLY_ERROR) {
    out.emplace_back(r->str, r->len);
  } else if (r->type == REDIS_REPLY_INTEGER) {
    out.push_back(std::to_string(r->integer));
  }
}

// XRANGE replies flattened: entry id, then field, value, field, value...
std::vector<std::string> field_values(const std::vector<std::string>& flat, const std::string& field) {
  std::vector<std::string> out;
  for (size_t i = 0; i + 1 < flat.size(); ++i)
    if (flat[i] == field) out.push_back(flat[++i]);
  return out;
}

}  // namespace

RedisServer::RedisServer() : port_(free_loopback_port()) { start(); }

RedisServer::~RedisServer() { stop(); }

std::string RedisServer::url(int db) const { return "redis://127.0.0.1:" + std::to_string(port_) + "/" + std::to_string(db); }

void RedisServer::start() {
  if (pid_ > 0) return;
  const std::string port = std::to_string(port_);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a crashed test program
    ::execlp("redis-server", "redis-server", "--port", port.c_str(), "--bind", "127.0.0.1", "--save", "",
             "--appendonly", "no", "--daemonize", "no", "--loglevel", "warning", "--logfile", "/dev/null",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid_ < 0) throw std::runtime_error("fork failed");
  for (int i = 0; i < 200; ++i) {
    std::unique_ptr<redisContext, ContextDeleter> c(redisConnect("127.0.0.1", port_));
    if (c && !c->err) {
      auto* r = static_cast<redisReply*>(redisCommand(c.get(), "PING"));
      const bool ok = r && r->type == REDIS_REPLY_STATUS;
      freeReplyObject(r);
      if (ok) return;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("redis-server exited at start (is it installed? scripts/setup.sh installs it)");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  stop();
  throw std::runtime_error("redis-server did not answer PING on port " + std::to_string(port_));
}

void RedisServer::stop() {
  // SIGKILL on purpose: the tests take the broker away the way a crash or a cut network does.
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

std::vector<std::string> RedisServer::command(const std::vector<std::string>& args) const {
  std::unique_ptr<redisContext, ContextDeleter> c(redisConnect("127.0.0.1", port_));
  if (!c || c->err) throw std::runtime_error("cannot connect to the test redis-server");
  std::vector<const char*> argv;
  std::vector<size_t> lens;
  for (const auto& a : args) {
    argv.push_back(a.data());
    lens.push_back(a.size());
  }
  auto* r = static_cast<redisReply*>(redisCommandArgv(c.get(), int(argv.size()), argv.data(), lens.data()));
  std::vector<std::string> out;
  collect(r, out);
  freeReplyObject(r);
  return out;
}

std::vector<std::string> RedisServer::stream_ids(const std::string& stream) const {
  return field_values(command({"XRANGE", stream, "-", "+"}), "id");
}

std::map<std::string, std::string> RedisServer::stream_entries(const std::string& stream) const {
  // Each entry flattens to its id and three field/value pairs: id, type, payload.
  const std::vector<std::string> flat = command({"XRANGE", stream, "-", "+"});
  std::map<std::string, std::string> out;
  for (std::size_t i = 0; i + 6 < flat.size(); i += 7) out[flat[i]] = flat[i + 2];
  return out;
}

std::vector<std::string> RedisServer::stream_payloads(const std::string& stream) const {
  return field_values(command({"XRANGE", stream, "-", "+"}), "payload");
}

}  // namespace quorvel::testing
