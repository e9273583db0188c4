// Pure rules of the online filling: missing days, fetch spans, codes per provider, rate limit, config.
#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "support/test_support.h"
#include "contracts/dates.h"
#include "tarnel/online/bar_fill.h"
#include "tarnel/online/eastmoney_provider.h"
#include "tarnel/online/online_config.h"
#include "tarnel/online/rate_limiter.h"
#include "tarnel/online/tencent_provider.h"

namespace tarnel::online {
namespace {

using quorvel::testing::ScopedEnv;

Date d(const char* text) { return parse_date(text); }

std::vector<Date> days(std::initializer_list<const char*> texts) {
  std::vector<Date> out;
  for (const char* t : texts) out.push_back(d(t));
  return out;
}

TEST(OnlineRules, MissingDaysAndFetchPlan) {
  const auto expected = days({"2026-12-01", "2026-12-02", "2026-12-03", "2026-12-04"});
  const SeriesInfo checked{"sh.600000", "eastmoney", "qfq", "1.600000", d("2026-11-01"), d("2026-12-02")};
  struct Row {
    const char* name;
    std::vector<Date> stored;
    std::optional<SeriesInfo> series;
    bool extendable;
    std::vector<Date> missing;
    const char *first, *last;
    bool replace;
  };
  const std::vector<Row> rows{
      {"empty store", {}, std::nullopt, false, expected, "2026-12-01", "2026-12-04", true},
      {"tail gap, extended with one stored neighbour", days({"2026-11-30", "2026-12-01", "2026-12-02"}), std::nullopt,
       true, days({"2026-12-03", "2026-12-04"}), "2026-12-02", "2026-12-04", false},
      {"head and tail around stored days", days({"2026-12-02"}), std::nullopt, true,
       days({"2026-12-01", "2026-12-03", "2026-12-04"}), "2026-12-01", "2026-12-04", false},
      {"answered span is not asked again", days({"2026-12-01"}), checked, true, days({"2026-12-03", "2026-12-04"}),
       "2026-12-01", "2026-12-04", false},
      {"another origin is fetched whole", days({"2026-11-02", "2026-12-01"}), std::nullopt, false,
       days({"2026-12-02", "2026-12-03", "2026-12-04"}), "2026-11-02", "2026-12-04", true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<Date> in_range;
    for (Date x : r.stored)
      if (x >= expected.front()) in_range.push_back(x);
    const auto missing = missing_days(expected, in_range, r.series);
    EXPECT_EQ(missing, r.missing);
    const FetchPlan plan = plan_fetch(missing, r.stored, r.extendable);
    EXPECT_EQ(date_text(plan.first), r.first);
    EXPECT_EQ(date_text(plan.last), r.last);
    EXPECT_EQ(plan.replace, r.replace);
  }
}

TEST(OnlineRules, ProviderIdentifiersPerInstrument) {
  struct Row {
    const char* code;
    std::vector<std::string> eastmoney, tencent;
    InstrumentKind kind;
  };
  const std::vector<Row> rows{
      {"sh.600000", {"1.600000"}, {"sh600000"}, InstrumentKind::stock},
      {"sz.399001", {"0.399001"}, {"sz399001"}, InstrumentKind::index},
      {"bj.430047", {"0.430047"}, {"bj430047"}, InstrumentKind::stock},
      {"510050", {"1.510050"}, {"sh510050"}, InstrumentKind::etf},
      {"159949", {"0.159949"}, {"sz159949"}, InstrumentKind::etf},
      {"hk.700", {"116.00700"}, {"hk00700"}, InstrumentKind::stock},
      {"hk.HSTECH", {"124.HSTECH", "100.HSTECH"}, {"hkHSTECH"}, InstrumentKind::index},
      {"us.GSPC", {"100.SPX"}, {"usINX"}, InstrumentKind::index},
      {"us.IXIC", {"100.NDX"}, {"usIXIC"}, InstrumentKind::index},
      {"us.aapl", {"105.AAPL", "106.AAPL", "107.AAPL"}, {"usAAPL.OQ", "usAAPL.N", "usAAPL.AM"}, InstrumentKind::stock},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.code);
    SeriesRequest req{parse_instrument_code(r.code), InstrumentKind::stock, d("2026-12-01"), d("2026-12-04"),
                      Adjustment::forward, ""};
    req.kind = kind_of(req.code);
    EXPECT_EQ(req.kind, r.kind);
    EXPECT_EQ(eastmoney_secids(req), r.eastmoney);
    EXPECT_EQ(tencent_symbols(req), r.tencent);
  }
  const SeriesRequest known{parse_instrument_code("us.AAPL"), InstrumentKind::stock, d("2026-12-01"), d("2026-12-04"),
                            Adjustment::forward, "105.AAPL"};
  EXPECT_EQ(eastmoney_secids(known), std::vector<std::string>{"105.AAPL"});
  EXPECT_EQ(eastmoney_url("http://h", "1.600000", known),
            "http://h/api/qt/stock/kline/get?secid=1.600000&fields1=f1,f2,f3,f4,f5,f6"
            "&fields2=f51,f52,f53,f54,f55,f56,f57&klt=101&fqt=1&beg=20261201&end=20261204");
  const SeriesRequest index{parse_instrument_code("sh.000001"), InstrumentKind::index, d("2026-12-01"),
                            d("2026-12-04"), Adjustment::forward, ""};
  EXPECT_EQ(tencent_url("http://h", "sh000001", index, index.first, index.last),
            "http://h/appstock/app/fqkline/get?param=sh000001,day,2026-12-01,2026-12-04,640,");
}

TEST(OnlineRules, RateLimitSpacesRequestsPerHost) {
  using namespace std::chrono;
  RateLimiter limiter(milliseconds(300));
  const RateLimiter::Clock::time_point t0{};
  struct Row {
    const char* host;
    int at_ms, slot_ms;
  };
  const std::vector<Row> rows{{"a", 0, 0}, {"a", 0, 300}, {"b", 10, 10}, {"a", 100, 600}, {"a", 2000, 2000}};
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.host) + "@" + std::to_string(r.at_ms));
    EXPECT_EQ(limiter.reserve(r.host, t0 + milliseconds(r.at_ms)), t0 + milliseconds(r.slot_ms));
  }
  EXPECT_EQ(url_host("https://push.example.com/api/x?y=1"), "push.example.com");
  EXPECT_EQ(url_host("http://127.0.0.1:8080"), "127.0.0.1:8080");
}

TEST(OnlineRules, ConfigurationFromTheEnvironment) {
  struct Row {
    const char *online, *providers, *adjust, *interval;
    bool enabled, throws;
    std::vector<std::string> order;
    Adjustment adjustment;
  };
  const std::vector<Row> rows{
      {nullptr, nullptr, nullptr, nullptr, true, false, {"eastmoney", "tencent"}, Adjustment::forward},
      {"0", nullptr, nullptr, nullptr, false, false, {"eastmoney", "tencent"}, Adjustment::forward},
      {"off", " Tencent , eastmoney,tencent", "none", "0", false, false, {"tencent", "eastmoney"}, Adjustment::none},
      {"1", "eastmoney", "hfq", "50", true, false, {"eastmoney"}, Adjustment::backward},
      {nullptr, "yahoo", nullptr, nullptr, true, true, {}, Adjustment::forward},
      {nullptr, nullptr, "split", nullptr, true, true, {}, Adjustment::forward},
      {nullptr, nullptr, nullptr, "fast", true, true, {}, Adjustment::forward},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.online ? r.online : "-") + "/" + (r.providers ? r.providers : "-"));
    const auto opt = [](const char* v) { return v ? std::optional<std::string>(v) : std::nullopt; };
    ScopedEnv a("TARNEL_ONLINE", opt(r.online)), b("TARNEL_PROVIDERS", opt(r.providers)),
        c("TARNEL_ADJUST", opt(r.adjust)), e("TARNEL_REQUEST_INTERVAL_MS", opt(r.interval));
    if (r.throws) {
      EXPECT_THROW(online_config_from_env(), quorvel::ValueError);
      continue;
    }
    const OnlineConfig config = online_config_from_env();
    EXPECT_EQ(config.enabled, r.enabled);
    EXPECT_EQ(config.providers, r.order);
    EXPECT_EQ(config.adjustment, r.adjustment);
    if (r.interval) {
      EXPECT_EQ(config.fetch.min_interval.count(), std::stoi(r.interval));
    }
  }
}

}  // namespace
}  // namespace tarnel::online
