// Each robot kind receives the body it documents, signed as it checks signatures, and a send is
// repeated exactly when the reply says another attempt may succeed. Against a webhook on 127.0.0.1.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "delivery/delivery_fixtures.h"
#include "support/virtual_retry_timer.h"

namespace quorvel::delivery {
namespace {

using Json = nlohmann::json;
using quorvel::testing::KlineReply;

class WebhookDelivery : public ::testing::Test {
 protected:
  Channel channel(const std::string& name, const std::string& type, const std::string& target,
                  const std::string& secret = "") {
    const std::string signing = secret.empty() ? "" : fmt::format(R"(, "secret": "{}")", secret);
    return quorvel::testing::channel_of(fmt::format(R"({{"name": "{}", "type": "{}", "url": "{}{}"{}}})", name, type,
                                                    server_.base_url(), target, signing));
  }

  quorvel::testing::TempDir dir_;
  std::shared_ptr<report::SqlReportStore> store_ = quorvel::testing::delivery_store(dir_);
  quorvel::testing::FakeKlineServer server_{[](const auto&) { return quorvel::testing::webhook_ok(); }};
  quorvel::testing::LogCapture log_;
  Service<RetryTimer>::Guard timer_{std::make_shared<quorvel::testing::VirtualRetryTimer>()};
  Digest digest_ = quorvel::testing::sample_digest();
};

TEST_F(WebhookDelivery, EachRobotGetsItsBodyAndAValidSignature) {
  const Json lines = Json::parse(R"([[{"tag": "text", "text": "# 每日简报"}], [{"tag": "text", "text": ""}],
      [{"tag": "text", "text": "- 上证指数 偏多"}], [{"tag": "text", "text": "- 买入 sh.600000"}]])");
  const struct {
    const char* type;
    std::string target;
    std::string secret;
    Json body;  // without the signature's members
  } rows[] = {
      {"wecom",
       "/cgi-bin/webhook/send?key=WECOM-KEY-1a2b3c",
       "",
       {{"msgtype", "markdown"}, {"markdown", {{"content", digest_.markdown}}}}},
      {"dingtalk",
       "/robot/send?access_token=DING-TOKEN-4d5e6f",
       "SECDING-7a8b9c",
       {{"msgtype", "markdown"}, {"markdown", {{"title", digest_.title}, {"text", digest_.markdown}}}}},
      {"feishu",
       "/open-apis/bot/v2/hook/FEISHU-HOOK-0d1e2f",
       "FEISHU-SIGN-3a4b5c",
       {{"msg_type", "post"}, {"content", {{"post", {{"zh_cn", {{"title", digest_.title}, {"content", lines}}}}}}}}},
      {"json",
       "/digest?token=JSON-TOKEN-6c7d8e",
       "",
       {{"id", digest_.id},
        {"day", digest_.day},
        {"title", digest_.title},
        {"markdown", digest_.markdown},
        {"html", digest_.html}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.type);
    const auto outcomes = deliver_digest({channel(row.type, row.type, row.target, row.secret)}, digest_, *store_);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].status, DeliveryStatus::sent) << outcomes[0].detail;
    auto request = server_.requests().back();
    Json body = Json::parse(request.body);
    const std::string type = row.type;
    if (type == "dingtalk") {
      const std::string stamp = request.params["timestamp"];
      EXPECT_EQ(request.params["sign"], quorvel::testing::hmac_base64(row.secret, stamp + "\n" + row.secret));
      EXPECT_EQ(request.params["access_token"], "DING-TOKEN-4d5e6f");
    } else if (type == "feishu") {
      EXPECT_EQ(body["sign"], quorvel::testing::hmac_base64(std::string(body["timestamp"]) + "\n" + row.secret, ""));
      body.erase("timestamp");
      body.erase("sign");
    } else if (type == "json") {
      EXPECT_EQ(request.headers["Idempotency-Key"], digest_.id);
    }
    EXPECT_EQ(body, row.body);
  }
  EXPECT_EQ(server_.request_count(), 4u);
  quorvel::testing::expect_no_secret({}, log_,
                                     {"WECOM-KEY-1a2b3c", "DING-TOKEN-4d5e6f", "SECDING-7a8b9c", "FEISHU-HOOK-0d1e2f",
                                      "FEISHU-SIGN-3a4b5c", "JSON-TOKEN-6c7d8e"});
}

TEST_F(WebhookDelivery, ASendIsRepeatedOnlyWhenAnotherAttemptMaySucceed) {
  const KlineReply ok = quorvel::testing::webhook_ok();
  const auto reply = [](int status, std::string body, std::string retry_after = "") {
    KlineReply r{status, std::move(body), {}, {}, false};
    if (!retry_after.empty()) r.headers.emplace_back("Retry-After", retry_after);
    return r;
  };
  const struct {
    const char* name;
    std::vector<KlineReply> replies;
    DeliveryStatus status;
    int attempts;
    std::string detail;                    // part of the outcome's text
    std::chrono::milliseconds first_wait;  // at least
    bool transient = false;                // a later run may succeed
  } rows[] = {
      {"server error twice", {reply(500, "busy"), reply(502, "busy"), ok}, DeliveryStatus::sent, 3, "", {}},
      {"server error throughout",
       {reply(500, "busy"), reply(502, "busy"), reply(503, "busy"), reply(500, "busy")},
       DeliveryStatus::failed,
       4,
       "HTTP 500",
       {},
       true},
      {"bad request",
       {reply(400, R"({"errcode":93000,"errmsg":"invalid url, key=WECOM-KEY-9f8e7d"})")},
       DeliveryStatus::failed,
       1,
       "HTTP 400",
       {}},
      {"too many requests", {reply(429, "slow down", "7"), ok}, DeliveryStatus::sent, 2, "", std::chrono::seconds(7)},
      {"robot refuses in a 200",
       {reply(200, R"({"errcode":310000,"errmsg":"keywords not in content"})")},
       DeliveryStatus::failed,
       1,
       "errcode=310000",
       {}},
      {"robot asks to slow down in a 200",
       {reply(200, R"({"errcode":45009,"errmsg":"api freq out of limit"})"), ok},
       DeliveryStatus::sent,
       2,
       "",
       {}},
  };
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto timer = std::make_shared<quorvel::testing::VirtualRetryTimer>();
    Service<RetryTimer>::Guard timer_guard{timer};
    server_.set_handler(quorvel::testing::scripted_replies(row.replies));
    const auto before = server_.request_count();
    const auto outcomes =
        deliver_digest({channel("r" + std::to_string(n++), "wecom", "/send?key=WECOM-KEY-9f8e7d")}, digest_, *store_);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].status, row.status) << outcomes[0].detail;
    EXPECT_EQ(outcomes[0].attempts, row.attempts);
    EXPECT_EQ(server_.request_count() - before, std::size_t(row.attempts));
    ASSERT_EQ(timer->waits().size(), std::size_t(row.attempts - 1));
    EXPECT_GE(timer->waits().empty() ? row.first_wait : timer->waits()[0], row.first_wait);
    EXPECT_NE(outcomes[0].detail.find(row.detail), std::string::npos) << outcomes[0].detail;
    EXPECT_EQ(outcomes[0].transient, row.transient);
    quorvel::testing::expect_no_secret(outcomes, log_, {"WECOM-KEY-9f8e7d"});
  }
  // A stop request before the send leaves the channel untouched: nothing sent, nothing claimed.
  DeliveryOptions stopping;
  stopping.stop_requested = [] { return true; };
  const auto before = server_.request_count();
  const auto stopped = deliver_digest({channel("stopped", "wecom", "/send?key=WECOM-KEY-9f8e7d")}, digest_, *store_,
                                      DELIVERY_RETRY, stopping);
  EXPECT_EQ(stopped.at(0).status, DeliveryStatus::failed);
  EXPECT_TRUE(stopped[0].transient);
  EXPECT_EQ(server_.request_count(), before);
  for (const auto& record : store_->deliveries(digest_.day)) EXPECT_NE(record.channel, "stopped");
}

}  // namespace
}  // namespace quorvel::delivery
