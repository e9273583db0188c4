// The delivery file: a malformed channel is refused with the channel and the field named (and no
// key of its URL), the file is found where the settings say, and its credentials are masked.
#include "quorvel/delivery/channels.h"

#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "quorvel/utils/outside_text.h"
#include "support/test_support.h"

namespace quorvel::delivery {
namespace {

using quorvel::testing::ScopedEnv;

std::string error_of(const std::string& channels) {
  try {
    parse_channels(R"({"channels": [)" + channels + "]}", "delivery.json");
  } catch (const ValueError& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(DeliveryChannels, AMalformedChannelIsRefusedWithItsNameAndField) {
  const std::string mail = R"({"name": "m", "type": "email", "url": "smtps://mail.example:465", )";
  const struct {
    const char* name;
    std::string channels;
    std::vector<std::string> expected;
  } rows[] = {
      {"unknown type", R"({"name": "a", "type": "slack", "url": "https://x.example/h"})", {"'a'", "type", "slack"}},
      {"no url", R"({"name": "a", "type": "wecom"})", {"'a'", "url", "缺失"}},
      {"misspelt field",
       R"({"name": "a", "type": "dingtalk", "url": "https://x.example/h", "secert": "s"})",
       {"'a'", "secert"}},
      {"key sent in the clear",
       R"({"name": "a", "type": "wecom", "url": "http://x.example/h?key=KEY-77aa11"})",
       {"'a'", "url", "x.example"}},
      {"mail without sender", mail + R"("to": ["b@example.com"]})", {"'m'", "from", "缺失"}},
      {"mail without recipients", mail + R"("from": "a@example.com", "to": []})", {"'m'", "to"}},
      {"header break in an address",
       mail + R"("from": "a@example.com\r\nBcc: c@example.com", "to": ["b@x.cn"]})",
       {"'m'", "from"}},
      {"clear text to a remote server",
       R"({"name": "m", "type": "email", "url": "smtp://mail.example:25", "tls": "none", "from": "a@example.com",
           "to": ["b@example.com"]})",
       {"'m'", "tls", "mail.example"}},
      {"duplicate name",
       R"({"name": "a", "type": "wecom", "url": "https://x.example/1"}, {"name": "a", "type": "json", "url": "https://y.example/2"})",
       {"'a'", "name", "重复"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string message = error_of(row.channels);
    for (const auto& part : row.expected) EXPECT_NE(message.find(part), std::string::npos) << message;
    EXPECT_NE(message.find("delivery.json"), std::string::npos) << message;
    EXPECT_EQ(message.find("KEY-77aa11"), std::string::npos) << message;
  }
}

TEST(DeliveryChannels, TheFileIsFoundWhereTheSettingsSayAndItsCredentialsAreMasked) {
  quorvel::testing::TempDir home;
  ScopedEnv root("QUORVEL_HOME", home.path().string());
  ScopedEnv unset(DELIVERY_FILE_VARIABLE, std::nullopt);
  EXPECT_TRUE(configured_channels().empty());  // no default file: nothing to deliver

  ScopedEnv named(DELIVERY_FILE_VARIABLE, "conf/mine.json");
  try {
    configured_channels();
    ADD_FAILURE() << "a missing named file was accepted";
  } catch (const RuntimeError& e) {
    EXPECT_NE(std::string(e.what()).find((home / "conf/mine.json").string()), std::string::npos) << e.what();
  }

  quorvel::testing::write_file(home / "conf/mine.json", R"({"channels": [
    {"name": "desk", "type": "feishu", "url": "https://open.feishu.example/open-apis/bot/v2/hook/HOOK-5e1f22",
     "secret": "SIGN-9b8c7d"},
    {"name": "box", "type": "email", "url": "smtps://mail.example:465", "username": "u", "password": "PASS-3c4d5e",
     "from": "a@example.com", "to": ["b@example.com"]}]})");
  const auto channels = configured_channels();
  ASSERT_EQ(channels.size(), 2u);
  EXPECT_EQ(channels[0].label(), "desk (open.feishu.example)");
  EXPECT_EQ(channels[1].label(), "box (mail.example:465)");
  EXPECT_EQ(mask_secrets("HOOK-5e1f22 SIGN-9b8c7d PASS-3c4d5e"), "*** *** ***");
}

TEST(DeliveryChannels, TheDocumentedExampleHoldsOneChannelOfEachKind) {
  const auto file = quorvel::testing::test_data_dir().parent_path().parent_path() / "config/delivery.example.json";
  std::vector<std::string_view> kinds;
  for (const Channel& ch : load_channels(file)) kinds.push_back(kind_name(ch.kind));
  EXPECT_EQ(kinds, (std::vector<std::string_view>{"wecom", "dingtalk", "feishu", "json", "email"}));
}

}  // namespace
}  // namespace quorvel::delivery
