// Filling the store from fake K-line hosts on 127.0.0.1: normal answers, faults, fallback, series
// replacement, unreachable hosts and the once-per-range rule of the service.
#include <atomic>
#include <regex>
#include <set>

#include <gtest/gtest.h>

#include "online_fixture.h"
#include "tarnel/data_import.h"
#include "tarnel/online/online_market_data.h"

namespace tarnel::online {
namespace {

using quorvel::testing::FakeKlineServer;
using quorvel::testing::KlineReply;
using Status = FillOutcome::Status;

std::string recorded(const std::string& name) {
  return quorvel::testing::read_file(quorvel::testing::test_data_dir() / "tarnel_online" / name);
}

using OnlineFill = OnlineFixture;

TEST_F(OnlineFill, FillsMissingDaysOnceAndRecordsTheSeries) {
  FakeKlineServer host(generated());
  BarFiller filler(*local_, config(host.base_url()));
  const FillOutcome first = filler.fill("sh.600000", d("2026-11-30"), d("2026-12-31"));
  EXPECT_EQ(first.status, Status::filled);
  EXPECT_EQ(first.bars_added, 5u);  // Monday 11-30 to Friday 12-04, the last closed session
  const BarTable bars = stored("sh.600000");
  ASSERT_EQ(bars.rows(), 5u);
  EXPECT_EQ(bars.last_date(), "2026-12-04");
  EXPECT_DOUBLE_EQ(bars.last("volume"), 1234500);  // lots of 100 shares
  EXPECT_EQ(local_->get_name_from_code("sh.600000"), "测试600000");
  const auto info = series("sh.600000");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->source, "eastmoney");
  EXPECT_EQ(info->adjustment, "qfq");
  EXPECT_EQ(info->symbol, "1.600000");
  EXPECT_TRUE(info->volume_checked);
  EXPECT_EQ(filler.fill("sh.600000", d("2026-11-30"), d("2026-12-31")).status, Status::up_to_date);
  EXPECT_EQ(host.request_count(), 1u);
}

// A source that counts Hong Kong volume in lots while its amounts are in dollars: the bars show it
// and the volumes are stored in shares. Every row of a series carries one unit: an extension the
// amounts cannot vouch for takes the stored factor, and one whose amounts show another factor than
// the stored rows carry (rows stored before factors were recorded) brings the whole series again.
TEST_F(OnlineFill, EveryStoredRowOfASeriesCarriesOneVolumeUnit) {
  const auto bars_until = [](std::string until, bool amounts) {
    return [until, amounts](const quorvel::testing::KlineRequest& r) {
      std::string body = quorvel::testing::generated_eastmoney_reply(r, until);
      if (!amounts) body = std::regex_replace(body, std::regex(R"(,[0-9.]+")"), ",-\"");
      return KlineReply{200, body, {}, {}, false};
    };
  };
  const auto volumes = [&] {
    std::set<double> seen;
    const BarTable bars = stored("hk.00700");
    for (std::size_t i = 0; i < bars.rows(); ++i) seen.insert(bars.at("volume", i));
    return seen;
  };
  FakeKlineServer host(bars_until("2026-12-01", true));
  BarFiller filler(*local_, config(host.base_url()));
  ASSERT_EQ(filler.fill("hk.00700", d("2026-11-30"), d("2026-12-31")).status, Status::filled);
  EXPECT_EQ(volumes(), std::set<double>{1234500});
  EXPECT_EQ(series("hk.00700")->volume_scale, 100);

  host.set_handler(bars_until("2026-12-02", false));
  ASSERT_EQ(filler.fill("hk.00700", d("2026-11-30"), d("2026-12-31")).status, Status::filled);
  EXPECT_EQ(volumes(), std::set<double>{1234500});
  EXPECT_FALSE(series("hk.00700")->volume_checked);

  {  // as a store written before factors were recorded holds the series: lots taken for shares
    BarStore store(local_->store_file());
    store.db().exec("UPDATE bars SET volume = volume / 100; UPDATE series SET volume_scale = NULL");
  }
  host.set_handler(bars_until("2026-12-03", false));
  ASSERT_EQ(filler.fill("hk.00700", d("2026-11-30"), d("2026-12-31")).status, Status::filled);
  EXPECT_EQ(volumes(), std::set<double>{12345});
  const auto before = host.request_count();
  host.set_handler(bars_until("", true));
  ASSERT_EQ(filler.fill("hk.00700", d("2026-11-30"), d("2026-12-31")).status, Status::filled);
  EXPECT_EQ(volumes(), std::set<double>{1234500});
  EXPECT_EQ(host.requests().at(before + 1).params.at("beg"), "20261130");  // the whole series again
}

TEST_F(OnlineFill, FaultsWriteNothing) {
  const auto ok = KlineReply{200, recorded("eastmoney_sh600000.json"), {}, {}, false};
  struct Row {
    const char* name;
    std::vector<KlineReply> script;
    Status status;
    std::size_t requests;
  };
  const std::vector<Row> rows{
      {"429 then an answer", {{429, "busy", {{"Retry-After", "0"}}, {}, false}, ok}, Status::filled, 2},
      {"500 every time", {{500, "x", {}, {}, false}, {500, "x", {}, {}, false}, {500, "x", {}, {}, false}},
       Status::failed, 3},
      {"slow beyond the time-out", {{200, ok.body, {}, std::chrono::milliseconds(3000), false}}, Status::failed, 3},
      {"truncated", {{200, ok.body, {}, {}, true}, {200, ok.body, {}, {}, true}, {200, ok.body, {}, {}, true}},
       Status::failed, 3},
      {"malformed", {{200, recorded("eastmoney_malformed.json"), {}, {}, false}}, Status::failed, 1},
      {"empty is no proof", {{200, recorded("eastmoney_empty.json"), {}, {}, false}}, Status::failed, 1},
      {"unknown code", {{200, recorded("eastmoney_unknown.json"), {}, {}, false}}, Status::failed, 1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    FakeKlineServer host(quorvel::testing::scripted_replies(r.script));
    OnlineConfig c = config(host.base_url());
    c.fetch.total_timeout = std::chrono::milliseconds(300);
    BarFiller filler(*local_, c);
    const FillOutcome out = filler.fill("sh.600000", d("2026-12-01"), d("2026-12-03"));
    EXPECT_EQ(out.status, r.status) << out.detail;
    EXPECT_GE(host.request_count(), r.requests);
    EXPECT_EQ(stored("sh.600000").rows(), r.status == Status::filled ? 3u : 0u);
    EXPECT_EQ(series("sh.600000").has_value(), r.status == Status::filled);
    if (r.status == Status::failed) {
      EXPECT_FALSE(out.detail.empty());
    }
    BarStore store(local_->store_file());
    store.db().exec("DELETE FROM bars; DELETE FROM series;");
  }
}

TEST_F(OnlineFill, FallsBackToTheNextProviderInOrder) {
  FakeKlineServer first(quorvel::testing::scripted_replies({{200, recorded("eastmoney_empty.json"), {}, {}, false}}));
  FakeKlineServer second(quorvel::testing::scripted_replies({{200, recorded("tencent_sh600000.json"), {}, {}, false}}));
  BarFiller filler(*local_, config(first.base_url(), second.base_url()));
  const FillOutcome out = filler.fill("sh.600000", d("2026-12-01"), d("2026-12-03"));
  EXPECT_EQ(out.status, Status::filled);
  EXPECT_EQ(out.provider, "tencent");
  const BarTable bars = stored("sh.600000");
  ASSERT_EQ(bars.rows(), 3u);
  EXPECT_DOUBLE_EQ(bars.at("amount", 0), 553889310.0);  // 10,000 yuan on arrival
  EXPECT_EQ(series("sh.600000")->source, "tencent");
  EXPECT_EQ(second.requests().front().params.at("param"), "sh600000,day,2026-12-01,2026-12-03,640,qfq");
}

TEST_F(OnlineFill, ImportedOrReanchoredSeriesIsReplacedWhole) {
  const auto csv = temp_ / "sh.600000.csv";
  quorvel::testing::write_file(csv, "date,open,high,low,close,volume,amount\n2026-11-02,5,5,5,5,1,5\n");
  {
    BarStore store(local_->store_file());
    import_bar_file(store, "sh.600000", csv);
  }
  FakeKlineServer host(generated("2026-12-03"));
  BarFiller filler(*local_, config(host.base_url()));
  EXPECT_EQ(filler.fill("sh.600000", d("2026-11-30"), d("2026-12-31")).status, Status::filled);
  EXPECT_EQ(host.requests().front().params.at("beg"), "20261102");  // the imported span is fetched again
  EXPECT_EQ(stored("sh.600000").index().front(), d("2026-11-02"));
  EXPECT_NE(stored("sh.600000").at("close", 0), 5.0);
  EXPECT_EQ(series("sh.600000")->source, "eastmoney");

  // An ex-rights day re-anchors forward-adjusted prices: the overlap no longer matches.
  host.set_handler([](const quorvel::testing::KlineRequest& r) {
    std::string body = quorvel::testing::generated_eastmoney_reply(r, "");
    for (std::size_t at = body.find(",1"); at != std::string::npos; at = body.find(",1", at + 2)) body[at + 1] = '2';
    return KlineReply{200, body, {}, {}, false};
  });
  const std::size_t before = host.request_count();
  EXPECT_EQ(filler.fill("sh.600000", d("2026-11-30"), d("2026-12-31")).status, Status::filled);
  EXPECT_EQ(host.request_count(), before + 2);  // the extension, then the whole series
  const BarTable bars = stored("sh.600000");
  EXPECT_EQ(bars.last_date(), "2026-12-04");
  EXPECT_GT(bars.at("close", 0), 20.0);
}

TEST_F(OnlineFill, UnreachableHostIsAskedOnceAndReadsStillWork) {
  std::atomic<int> calls{0};
  const auto counting = [&](const quorvel::HttpRequest& request) {
    ++calls;
    return quorvel::http_get(request);
  };
  OnlineConfig c = config("http://127.0.0.1:1", "http://127.0.0.1:1");
  OnlineMarketData service(local_, c, counting);
  EXPECT_TRUE(service.get_any_ohlc("sh.600000", "2026-11-30", "2026-12-04").empty());
  EXPECT_TRUE(service.get_any_ohlc("sz.000001", "2026-11-30", "2026-12-04").empty());
  EXPECT_EQ(calls.load(), 1);  // refused once: neither provider's host is asked again
}

TEST_F(OnlineFill, ServiceFillsOncePerRangeIndicesAndNames) {
  FakeKlineServer host(generated());
  OnlineMarketData service(local_, config(host.base_url()));
  EXPECT_EQ(service.get_any_ohlc("sh.600000", "2026-11-30", "2026-12-04").rows(), 5u);
  service.get_any_ohlc("sh.600000", "2026-11-30", "2026-12-04");
  EXPECT_EQ(host.request_count(), 1u);
  EXPECT_EQ(service.get_index_ohlc(indices::SP500, "2026-12-03").last_date(), "2026-12-03");
  EXPECT_EQ(host.requests().back().params.at("secid"), "100.SPX");
  EXPECT_EQ(host.requests().back().params.at("fqt"), "0");
  EXPECT_EQ(service.get_name_from_code("hk.00700"), "测试00700");
  EXPECT_EQ(BarStore(local_->store_file()).instrument("hk.00700")->market, "HK");
}

}  // namespace
}  // namespace tarnel::online
