#include "quorvel/utils/outside_text.h"

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(OutsideText, RemovesEveryControlAndEscapeKindAndReplacesBrokenUtf8) {
  const struct {
    const char* what;
    std::string in, out;
  } rows[] = {
      {"CSI colour and clear screen", "\x1b[31m看涨\x1b[0m \x1b[2J\x1b[?25l!", "看涨 !"},
      {"OSC title ended by BEL", "a\x1b]0;title\x07" "b", "ab"},
      {"OSC title ended by ESC \\", "a\x1b]8;;http://x\x1b\\link", "alink"},
      {"DCS string and charset designation", "a\x1bPq#0\x1b\\b\x1b(Bc\x1b" "7d\x1b" "c", "abcd"},
      {"C1 CSI encoded, with parameters", "a\xc2\x9b" "31mb\xc2\x9b" "2Jc", "abc"},
      {"C1 CSI as a raw byte, with parameters", "a\x9b" "31mb\x9b" "2J\xe4\xb8\xad", "ab中"},
      {"C1 OSC encoded, ended by encoded ST", "a\xc2\x9d" "0;t\xc2\x9c" "b", "ab"},
      {"other C1 controls", "a\xc2\x85" "b\xc2\x80" "c\xc2\x8d", "abc"},
      {"C0, CR and DEL", std::string("a\0b\x08" "c\r\n\x7f" "d\x07", 10), "abc\nd"},
      {"line feed and tab kept", "一\t二\n三", "一\t二\n三"},
      {"invalid UTF-8", "a\xff" "b\xe4\xb8" "c\xc0\xaf", "a\xef\xbf\xbd" "b\xef\xbf\xbd" "c\xef\xbf\xbd\xef\xbf\xbd"},
      {"raw C1 other than CSI", "a\x9d" "0;x", "a\xef\xbf\xbd" "0;x"},
      {"Chinese, full-width and emoji byte for byte", "浦发银行（６００）▋📈 1,810.00", "浦发银行（６００）▋📈 1,810.00"},
      {"lone and trailing ESC", "a\x1b\x01" "b\x1b", "ab"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(outside_text(row.in), row.out);
    EXPECT_EQ(outside_text(row.out), row.out);
  }
}

TEST(OutsideText, MasksRegisteredSecretsAndAuthorizationValues) {
  const std::string key = "sk-outside-7c1e9a";
  register_secret(key);
  register_secret("abc");  // too short to be a secret: ordinary text keeps it
  const struct {
    std::string in, out;
  } rows[] = {
      {"key " + key + " and again" + key, "key *** and again***"},
      {"sk-outside\x1b[0m-7c1e9a", "***"},
      {"Authorization: Bearer sk-other-1234\nnext", "Authorization: Bearer ***\nnext"},
      {R"({"authorization":"Bearer tok.en-1","x":1})", R"({"authorization":"Bearer ***","x":1})"},
      {R"(echo {\"AUTHORIZATION\": \"Basic dXNlcjpw\"})", R"(echo {\"AUTHORIZATION\": \"Basic ***\"})"},
      {"proxy-authorization=token123&a=1", "proxy-authorization=***&a=1"},
      {"Authorization:Bearer\tzz9", "Authorization:Bearer\t***"},
      {"check the Authorization header; abc", "check the Authorization header; abc"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.in);
    EXPECT_EQ(outside_text(row.in), row.out);
  }
}

TEST(OutsideText, RegistrationWhileOtherThreadsFilter) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      const std::string secret = "thread-secret-" + std::to_string(t);
      register_secret(secret);
      for (int i = 0; i < 200; ++i) EXPECT_EQ(outside_text("[" + secret + "]"), "[***]");
    });
  for (auto& th : threads) th.join();
}

}  // namespace
}  // namespace quorvel
