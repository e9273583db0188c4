// The digest by mail, against a plain SMTP server on 127.0.0.1: the envelope, the headers readers
// and servers rely on, both forms of the digest; and a refusal that ends the send with the
// server's reason and without the password.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "delivery/delivery_fixtures.h"
#include "support/fake_smtp_server.h"
#include "support/virtual_retry_timer.h"

namespace quorvel::delivery {
namespace {

using quorvel::testing::FakeSmtpServer;
using quorvel::testing::TempDir;

std::string base64_decoded(std::string text) {
  std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
  std::string out(text.size(), '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
  out.resize(std::size_t(n) - (text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0));
  return out;
}

// The value of header `name` (searched from a line start), and the text of RFC 2047 words in it.
std::string header(const std::string& data, const std::string& name) {
  const auto start = data.find("\r\n" + name + ": ") + name.size() + 4;
  return data.substr(start, data.find("\r\n", start) - start);
}
std::string decoded_words(const std::string& value) {
  std::string out;
  for (auto at = value.find("=?UTF-8?B?"); at != std::string::npos; at = value.find("=?UTF-8?B?", at + 1))
    out += base64_decoded(value.substr(at + 10, value.find("?=", at + 10) - at - 10));
  return out;
}

// The decoded body of the part of `type`.
std::string part(const std::string& data, const std::string& type) {
  const auto start = data.find("\r\n\r\n", data.find("Content-Type: " + type)) + 4;
  return base64_decoded(data.substr(start, data.find("\r\n--", start) - start));
}

Channel mail_channel(const FakeSmtpServer& server, const std::string& login = "") {
  return quorvel::testing::channel_of(fmt::format(R"({{"name": "box", "type": "email", "url": "{}", "tls": "none",
      "from": "desk@quorvel.example", "to": ["a@example.com", "b@example.com"]{}}})",
                                                  server.url(), login));
}

TEST(MailDelivery, TheMailCarriesTheDigestInBothFormsUnderItsId) {
  TempDir dir;
  FakeSmtpServer server;
  Digest digest = quorvel::testing::sample_digest();
  digest.title = "quorvel 每日简报 2023-02-10：上证指数偏多，关注银行板块与高股息品种的回调买点";  // several words
  const auto outcomes = deliver_digest({mail_channel(server)}, digest, *quorvel::testing::delivery_store(dir));
  ASSERT_EQ(outcomes.at(0).status, DeliveryStatus::sent) << outcomes[0].detail;
  const auto mails = server.messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].mail_from, "desk@quorvel.example");
  EXPECT_EQ(mails[0].rcpt_to, (std::vector<std::string>{"a@example.com", "b@example.com"}));
  const std::string data = "\r\n" + mails[0].data;
  EXPECT_EQ(header(data, "From"), "desk@quorvel.example");
  EXPECT_EQ(header(data, "To"), "a@example.com, b@example.com");
  EXPECT_EQ(decoded_words(header(data, "Subject")), digest.title);
  EXPECT_EQ(header(data, "Message-ID"), "<" + digest.id + "@quorvel.example>");
  EXPECT_EQ(part(data, "text/plain; charset=utf-8"), digest.markdown);
  EXPECT_EQ(part(data, "text/html; charset=utf-8"), digest.html);
}

TEST(MailDelivery, ARefusalEndsTheSendWithTheServersReasonAndWithoutThePassword) {
  TempDir dir;
  quorvel::testing::LogCapture log;
  Service<RetryTimer>::Guard timer{std::make_shared<quorvel::testing::VirtualRetryTimer>()};
  FakeSmtpServer server(
      std::map<std::string, std::string>{{"RCPT", "550 5.7.1 relay denied for mailer:MAILPASS-7781"}});
  const auto outcomes = deliver_digest({mail_channel(server, R"(, "username": "mailer", "password": "MAILPASS-7781")")},
                                       quorvel::testing::sample_digest(), *quorvel::testing::delivery_store(dir));
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].status, DeliveryStatus::failed);
  EXPECT_EQ(outcomes[0].attempts, 1);  // a 5xx refusal holds: no second attempt
  EXPECT_NE(outcomes[0].detail.find("550 5.7.1 relay denied"), std::string::npos) << outcomes[0].detail;
  EXPECT_TRUE(server.messages().empty());
  quorvel::testing::expect_no_secret(outcomes, log, {"MAILPASS-7781"});
}

}  // namespace
}  // namespace quorvel::delivery
