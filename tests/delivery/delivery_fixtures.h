#pragma once
// What the delivery tests share: a digest, a report store in a temp directory, a channel from its
// JSON, the robots' signature computed here with OpenSSL (apart from the code under test), and the
// check that no secret reached an outcome or the log.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "quorvel/delivery/channels.h"
#include "quorvel/delivery/deliver.h"
#include "quorvel/report/sql_report_store.h"
#include "support/fake_kline_server.h"
#include "support/test_support.h"

namespace quorvel::testing {

inline delivery::Digest sample_digest() {
  return {"daily-A-2023-02-10-3f9c2a", "2023-02-10", "A", "quorvel 每日简报 2023-02-10",
          "# 每日简报\n\n- 上证指数 偏多\n- 买入 sh.600000", "<h1>每日简报</h1><ul><li>上证指数 偏多</li></ul>"};
}

inline std::shared_ptr<report::SqlReportStore> delivery_store(const TempDir& dir) {
  return std::make_shared<report::SqlReportStore>(
      report::StoreOptions{.directory = dir.path(), .busy_timeout_ms = 15000, .write_files = false});
}

inline delivery::Channel channel_of(const std::string& json) {
  return delivery::parse_channels(R"({"channels": [)" + json + "]}", "test").at(0);
}

// What every robot kind reads as delivered.
inline KlineReply webhook_ok() { return {200, R"({"errcode":0,"errmsg":"ok","code":0})", {}, {}, false}; }

inline std::string hmac_base64(const std::string& key, const std::string& message) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), int(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
       message.size(), mac, &length);
  std::string out(4 * ((length + 2) / 3) + 1, '\0');
  out.resize(std::size_t(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), mac, int(length))));
  return out;
}

inline void expect_no_secret(const std::vector<delivery::ChannelOutcome>& outcomes, const LogCapture& log,
                             const std::vector<std::string>& secrets) {
  for (const std::string& secret : secrets) {
    for (const auto& o : outcomes) EXPECT_EQ(o.detail.find(secret), std::string::npos) << o.detail;
    for (const auto& line : log.lines()) EXPECT_EQ(line.find(secret), std::string::npos) << line;
  }
}

}  // namespace quorvel::testing
