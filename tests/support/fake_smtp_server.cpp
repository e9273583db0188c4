#include "support/fake_smtp_server.h"

#include <stdexcept>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvel::testing {

namespace {

// The next CRLF-terminated line; false once the client is gone or silent for 5 s.
bool read_line(int fd, std::string& buffer, std::string& line) {
  for (std::size_t end; (end = buffer.find("\r\n")) == std::string::npos;) {
    char chunk[4096];
    pollfd p{fd, POLLIN, 0};
    const ssize_t n = ::poll(&p, 1, 5000) > 0 ? ::recv(fd, chunk, sizeof chunk, 0) : 0;
    if (n <= 0) return false;
    buffer.append(chunk, std::size_t(n));
  }
  const auto end = buffer.find("\r\n");
  line = buffer.substr(0, end);
  buffer.erase(0, end + 2);
  return true;
}

void send_line(int fd, const std::string& line) { ::send(fd, (line + "\r\n").data(), line.size() + 2, MSG_NOSIGNAL); }

std::string address_of(const std::string& line) {
  const auto open = line.find('<'), close = line.rfind('>');
  return open == std::string::npos || close < open ? std::string() : line.substr(open + 1, close - open - 1);
}

}  // namespace

FakeSmtpServer::FakeSmtpServer(std::map<std::string, std::string> replies) : replies_(std::move(replies)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof addr;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), size) != 0 || ::listen(listener_, 4) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &size) != 0)
    throw std::runtime_error("fake SMTP server: cannot listen on 127.0.0.1");
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] {
    while (!stopping_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      if (const int fd = ::accept(listener_, nullptr, nullptr); fd >= 0) {
        session(fd);
        ::close(fd);
      }
    }
  });
}

FakeSmtpServer::~FakeSmtpServer() {
  stopping_ = true;
  thread_.join();
  ::close(listener_);
}

std::string FakeSmtpServer::url() const { return "smtp://127.0.0.1:" + std::to_string(port_); }

std::vector<ReceivedMail> FakeSmtpServer::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

void FakeSmtpServer::session(int fd) {
  std::string buffer, line;
  ReceivedMail mail;
  // Sends the reply to `verb` (the usual one unless replaced); true when it accepts.
  const auto reply = [&](const std::string& verb, const std::string& usual) {
    const auto it = replies_.find(verb);
    send_line(fd, it == replies_.end() ? usual : it->second);
    return (it == replies_.end() ? usual : it->second)[0] < '4';
  };
  send_line(fd, "220 127.0.0.1 fake SMTP ready");
  while (read_line(fd, buffer, line)) {
    const std::string verb = line.substr(0, 4);
    if (verb == "EHLO") {
      send_line(fd, "250-127.0.0.1 greets you");
      reply(verb, "250 8BITMIME");
    } else if (verb == "MAIL" && reply(verb, "250 OK")) {
      mail = {address_of(line), {}, {}};
    } else if (verb == "RCPT" && reply(verb, "250 OK")) {
      mail.rcpt_to.push_back(address_of(line));
    } else if (verb == "DATA" && reply(verb, "354 End data with <CR><LF>.<CR><LF>")) {
      while (read_line(fd, buffer, line) && line != ".")
        mail.data += line.substr(line.starts_with("..") ? 1 : 0) + "\r\n";
      std::lock_guard lock(mutex_);
      messages_.push_back(mail);
      send_line(fd, "250 OK queued");
    } else if (verb == "QUIT") {
      send_line(fd, "221 Bye");
      return;
    } else if (verb == "HELO" || verb == "RSET" || verb == "NOOP") {
      reply(verb, "250 OK");
    } else if (verb != "MAIL" && verb != "RCPT" && verb != "DATA") {
      send_line(fd, "502 Command not implemented");
    }
  }
}

}  // namespace quorvel::testing
