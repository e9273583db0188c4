#pragma once
// A plain SMTP server on 127.0.0.1 (random port) for the mail tests, speaking what a submission
// needs of RFC 5321: EHLO/HELO, MAIL FROM, RCPT TO, DATA (dot-unstuffed), RSET, NOOP, QUIT. It keeps
// each message it accepts. A command's reply can be replaced ("RCPT" -> "550 ..."); a refused MAIL
// or RCPT keeps nothing. One session at a time, on its own thread for the life of the object.
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::testing {

struct ReceivedMail {
  std::string mail_from;             // the envelope sender, without angle brackets
  std::vector<std::string> rcpt_to;  // the accepted recipients
  std::string data;                  // the message as sent after DATA, CRLF line ends
};

class FakeSmtpServer {
 public:
  explicit FakeSmtpServer(std::map<std::string, std::string> replies = {});
  ~FakeSmtpServer();
  FakeSmtpServer(const FakeSmtpServer&) = delete;
  FakeSmtpServer& operator=(const FakeSmtpServer&) = delete;

  std::string url() const;  // "smtp://127.0.0.1:<port>"
  std::vector<ReceivedMail> messages() const;

 private:
  void session(int fd);

  std::map<std::string, std::string> replies_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<ReceivedMail> messages_;
};

}  // namespace quorvel::testing
