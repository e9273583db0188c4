#pragma once
// A temporary store with the shipped calendars, a pinned clock (Friday 2026-12-04, 18:00 in
// Shanghai, after the A-share close) and fast fetch settings for the fake K-line hosts.
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "contracts/clock.h"
#include "quorvel/utils/environment.h"
#include "support/fake_kline_server.h"
#include "support/test_support.h"
#include "contracts/dates.h"
#include "tarnel/local_market_data.h"
#include "tarnel/online/bar_fill.h"

namespace tarnel::online {

class OnlineFixture : public ::testing::Test {
 protected:
  OnlineFixture()
      : clock_(std::make_shared<quorvel::FixedClock>(date::sys_days{date::year{2026} / 12 / 4} + std::chrono::hours(10),
                                                     date::year{2026} / 12 / 4)) {
    const auto data = temp_ / "data";
    quorvel::testing::write_file(data / "instruments.csv", "code,name,market,kind,file\n");
    std::filesystem::copy(quorvel::get_project_root() / "data" / "calendars", data / "calendars");
    local_ = std::make_shared<LocalMarketData>(temp_ / "tarnel.sqlite", data);
  }

  // Eastmoney then Tencent at the given hosts; no rate limit, short time-outs and backoff.
  static OnlineConfig config(const std::string& eastmoney_url, const std::string& tencent_url = "") {
    OnlineConfig c;
    c.providers = tencent_url.empty() ? std::vector<std::string>{"eastmoney"}
                                      : std::vector<std::string>{"eastmoney", "tencent"};
    c.eastmoney_url = eastmoney_url;
    c.tencent_url = tencent_url;
    c.fetch.min_interval = std::chrono::milliseconds(0);
    c.fetch.connect_timeout = c.fetch.total_timeout = std::chrono::milliseconds(5000);
    c.fetch.retry = {3, std::chrono::milliseconds(5), std::chrono::milliseconds(10), std::chrono::milliseconds(3000)};
    return c;
  }

  BarTable stored(const std::string& code) { return local_->get_any_ohlc(code, "2000-01-01", "2026-12-31"); }
  std::optional<SeriesInfo> series(const std::string& code) { return BarStore(local_->store_file()).series(code); }

  static Date d(const char* text) { return parse_date(text); }

  quorvel::Service<quorvel::Clock>::Guard clock_;
  quorvel::testing::TempDir temp_;
  std::shared_ptr<LocalMarketData> local_;
};

// Generated Eastmoney bars for every request.
inline quorvel::testing::FakeKlineServer::Handler generated(std::string until = "") {
  return [until](const quorvel::testing::KlineRequest& r) {
    return quorvel::testing::KlineReply{200, quorvel::testing::generated_eastmoney_reply(r, until), {}, {}, false};
  };
}

}  // namespace tarnel::online
