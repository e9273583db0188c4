#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "quorvel/utils/environment.h"
#include "support/test_support.h"
#include "tarnel/local_market_data.h"
#include "quorvel/utils/etf_universe.h"
#include "zerith/sentiment_thermometer.h"

namespace zerith {
namespace {

using quorvel::EtfUniverse;
using quorvel::load_etf_universe;
using quorvel::testing::TempDir;

std::string universe_file() { return (quorvel::get_project_root() / "data" / "etf" / "etf.yaml").string(); }

// 2026-12-08 20:00 in Shanghai: every bundled date is a closed session.
std::shared_ptr<quorvel::Clock> pinned_clock() {
  const date::sys_days day = date::year{2026} / 12 / 8;
  return std::make_shared<quorvel::FixedClock>(day + std::chrono::hours(12), date::year_month_day{day});
}

// One store for the whole suite: loading the bundled bars is the slow part.
class Thermometer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    data_ = std::make_shared<tarnel::LocalMarketData>(*dir_ / "s.sqlite", quorvel::get_project_root() / "data");
  }
  static void TearDownTestSuite() {
    data_.reset();
    delete dir_;
  }

  nlohmann::ordered_json snapshot(const std::optional<std::string>& date, const std::string& freq,
                                  bool use_cache = true) {
    return thermometer.compute_sentiment_snapshot(date, SentimentConfig{freq, universe_file()}, use_cache);
  }

  static inline TempDir* dir_ = nullptr;
  static inline std::shared_ptr<tarnel::LocalMarketData> data_;
  quorvel::Service<tarnel::MarketData>::Guard market{data_};
  quorvel::Service<quorvel::Clock>::Guard clock{pinned_clock()};
  ZerithSentimentThermometer thermometer;
};

struct DateCase {
  const char* date;
  const char* freq;
  const char* min_state;  // the coolest state the market of that day may read
  const char* max_state;  // the hottest
};

int state_rank(const std::string& s) {
  const std::vector<std::string> order = {"ICE_COLD", "COLD", "NEUTRAL", "HOT", "OVERHEAT"};
  return int(std::find(order.begin(), order.end(), s) - order.begin());
}

// Well-known days of the A-share market read on the real bundled ETF bars.
TEST_F(Thermometer, RealSnapshotsAreWellFormedAndReadTheKnownMarkets) {
  const DateCase rows[] = {
      {"2023-02-10", "D", "NEUTRAL", "HOT"},       // spring rebound after reopening
      {"2023-02-10", "W", "NEUTRAL", "HOT"},
      {"2024-09-30", "D", "OVERHEAT", "OVERHEAT"},  // limit-up day of the September 2024 rally
      {"2024-09-30", "W", "OVERHEAT", "OVERHEAT"},
      {"2018-12-28", "D", "ICE_COLD", "COLD"},      // end of the 2018 bear market
      {"2018-12-28", "W", "ICE_COLD", "COLD"},
      {"2022-04-26", "D", "ICE_COLD", "COLD"},      // April 2022 low
      {"2022-04-26", "W", "ICE_COLD", "COLD"},
  };
  const std::vector<std::string> keys = {"breadth", "momentum", "turnover", "volatility", "positioning"};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.date) + " " + row.freq);
    const auto s = snapshot(std::string(row.date), row.freq);
    const double t = s.at("temperature").get<double>();
    ASSERT_GE(t, 0.0);
    ASSERT_LE(t, 100.0);
    const std::string state = s.at("state");
    EXPECT_GE(state_rank(state), state_rank(row.min_state));
    EXPECT_LE(state_rank(state), state_rank(row.max_state));
    EXPECT_TRUE(std::set<std::string>({"warming", "cooling", "flat"}).count(s.at("direction").get<std::string>()));
    EXPECT_EQ(s.at("date"), row.date);
    EXPECT_EQ(s.at("freq"), row.freq);
    const double c = s.at("confidence").get<double>();
    EXPECT_GT(c, 0.0);
    EXPECT_LE(c, 1.0);
    EXPECT_GE(s.at("n_etf").get<int>(), 3);
    EXPECT_LE(s.at("n_etf").get<int>(), 16);
    std::vector<std::string> got;
    for (const auto& [k, v] : s.at("factors").items()) {
      got.push_back(k);
      EXPECT_GE(v.get<double>(), 0.0) << k;
      EXPECT_LE(v.get<double>(), 100.0) << k;
      EXPECT_EQ(v.get<double>(), std::round(v.get<double>() * 10) / 10) << k << " rounded to one decimal";
    }
    EXPECT_EQ(got, keys);
  }
}

TEST_F(Thermometer, RallyDayIsWarmingAndTheSampleGrowsWithListings) {
  const auto rally = snapshot(std::string("2024-09-30"), "D");
  EXPECT_EQ(rally.at("direction"), "warming");
  EXPECT_GT(rally.at("temperature_change").get<double>(), 5.0);
  EXPECT_EQ(rally.at("n_etf"), 16);
  // 159509 lists in August 2023 and 588000 in November 2020: neither is in the early-2020 sample.
  EXPECT_LE(snapshot(std::string("2020-03-23"), "D").at("n_etf").get<int>(), 14);
  EXPECT_EQ(snapshot(std::string("2023-02-10"), "D").at("n_etf"), 15);
}

TEST_F(Thermometer, WeeklyReadsTheWeekUpToTheDateAndDiffersFromDaily) {
  const auto daily = snapshot(std::string("2023-02-08"), "D");
  const auto weekly = snapshot(std::string("2023-02-08"), "W");
  // Wednesday: the weekly bar holds Monday to Wednesday only, no later bar leaks in.
  EXPECT_EQ(daily.at("date"), "2023-02-08");
  EXPECT_EQ(weekly.at("date"), "2023-02-08");
  EXPECT_NE(daily.at("factors"), weekly.at("factors"));
  // A Sunday reads the Friday bar in both.
  EXPECT_EQ(snapshot(std::string("2023-02-12"), "D").at("date"), "2023-02-10");
  EXPECT_EQ(snapshot(std::string("2023-02-12"), "W").at("date"), "2023-02-10");
  EXPECT_EQ(snapshot(std::string("2023-02-12"), "W").at("temperature"),
            snapshot(std::string("2023-02-10"), "W").at("temperature"));
}

// The other forms are computed afresh (a cached answer would only be compared with itself).
TEST_F(Thermometer, DateFormsAndAbsentDate) {
  const auto plain = snapshot(std::string("2023-02-10"), "D");
  EXPECT_EQ(snapshot(std::string("2023-02-10_1500"), "D", false), plain);
  EXPECT_EQ(snapshot(std::string(" 2023-02-10 15:00:00"), "d", false), plain);
  // No date: the latest bar of the universe up to today.
  EXPECT_EQ(snapshot(std::nullopt, "D").at("date"), "2024-09-30");
  EXPECT_EQ(snapshot(std::string(""), "W").at("date"), "2024-09-30");
}

TEST_F(Thermometer, UnusableRequestsFailClearly) {
  const struct {
    const char* date;
    const char* freq;
    const char* message;
    bool value_error;
  } rows[] = {
      {"2014-06-03", "D", "没有任何日线", false},
      {"2015-06-12", "D", "日线历史不足", false},
      {"2015-06-12", "W", "周线历史不足", false},
      {"2024-10-08", "D", "ETF 日线截止 2024-09-30", false},  // first session after the National Day break
      {"2025-03-03", "W", "缺少 2025-03-03 对应交易日 2025-03-03", false},
      {"2023-02-30", "D", "日期格式错误", true},
      {"20230210", "D", "日期格式错误", true},
      {"2023-02-10", "M", "freq", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.date) + " " + row.freq);
    try {
      snapshot(std::string(row.date), row.freq);
      ADD_FAILURE() << "no error";
    } catch (const quorvel::ValueError& e) {
      EXPECT_TRUE(row.value_error) << e.what();
      EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
    } catch (const quorvel::RuntimeError& e) {
      EXPECT_FALSE(row.value_error) << e.what();
      EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
    }
  }
  // The holiday itself is fine: 2024-10-07 falls back to the last session, 2024-09-30.
  EXPECT_EQ(snapshot(std::string("2024-10-07"), "D").at("date"), "2024-09-30");
}

TEST_F(Thermometer, CacheServesRepeatsAndIsSafeAcrossThreads) {
  const auto first = snapshot(std::string("2023-02-10"), "D");
  EXPECT_EQ(thermometer.cached_snapshots(), 1u);
  EXPECT_EQ(snapshot(std::string("2023-02-10"), "D"), first);
  EXPECT_EQ(thermometer.cached_snapshots(), 1u);
  snapshot(std::string("2023-02-10"), "W");
  EXPECT_EQ(thermometer.cached_snapshots(), 2u);
  EXPECT_EQ(snapshot(std::string("2023-02-10"), "D", false), first);

  ZerithSentimentThermometer fresh;
  std::vector<nlohmann::ordered_json> results(6);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&, i] {
      results[i] = fresh.compute_sentiment_snapshot(std::string(i % 2 ? "2024-09-30" : "2023-02-10"),
                                                    SentimentConfig{"W", universe_file()}, true);
    });
  }
  for (auto& t : threads) t.join();
  for (std::size_t i = 2; i < results.size(); ++i) EXPECT_EQ(results[i], results[i % 2]);
  EXPECT_EQ(fresh.cached_snapshots(), 2u);
}

TEST_F(Thermometer, InstalledServiceAnswersThroughTheContract) {
  quorvel::Service<SentimentThermometer>::Guard restore(nullptr);
  install_sentiment_thermometer();
  const auto s = compute_sentiment_snapshot(std::string("2023-02-10"), SentimentConfig{"D", universe_file()});
  EXPECT_EQ(s.at("date"), "2023-02-10");
  EXPECT_EQ(get_sentiment_zone_desc(90.0).title, "过热区");
}

TEST(SentimentZone, EachBandHasItsOwnTitleActionAndDetail) {
  ZerithSentimentThermometer thermometer;
  const struct {
    double t;
    const char* title;
  } rows[] = {{0.0, "冰点区"},  {15.0, "冰点区"}, {15.1, "偏冷区"}, {35.0, "偏冷区"}, {35.1, "中性区"},
              {64.9, "中性区"}, {65.0, "偏热区"}, {84.9, "偏热区"}, {85.0, "过热区"}, {100.0, "过热区"}};
  std::set<std::string> actions;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.t);
    const SentimentZoneDesc d = thermometer.get_sentiment_zone_desc(row.t);
    EXPECT_EQ(d.title, row.title);
    EXPECT_FALSE(d.action.empty());
    EXPECT_GT(d.detail.size(), d.action.size());
    actions.insert(d.action);
  }
  EXPECT_EQ(actions.size(), 5u);
  EXPECT_THROW(thermometer.get_sentiment_zone_desc(std::nan("")), quorvel::ValueError);
}

// The bundled universe is exactly the bundled A-share ETFs.
TEST(EtfUniverse, BundledFileListsEveryBundledEtf) {
  std::ifstream in(quorvel::get_project_root() / "data" / "instruments.csv");
  std::set<std::string> bundled;
  std::string line;
  while (std::getline(in, line)) {
    if (line.find(",ETF,etf,") != std::string::npos) bundled.insert(line.substr(0, line.find(',')));
  }
  ASSERT_EQ(bundled.size(), 16u);
  const EtfUniverse u = load_etf_universe(universe_file());
  std::set<std::string> listed;
  for (const auto& e : u.etfs) {
    listed.insert(e.code);
    EXPECT_FALSE(e.name.empty()) << e.code;
    EXPECT_FALSE(e.category.empty()) << e.code;
  }
  EXPECT_EQ(listed, bundled);
  EXPECT_EQ(u.etfs.size(), 16u);
}

TEST(EtfUniverse, BadFilesNameTheFileAndTheFault) {
  TempDir dir;
  const struct {
    const char* text;
    const char* fault;
  } rows[] = {
      {"etfs: [\"510050\", {code: \"510300\", name: 沪深300ETF}, \"510050\"]", ""},
      {"name: x\n", "缺少 etfs 列表"},
      {"etfs: []\n", "etfs 列表为空"},
      {"etfs:\n  - {name: 无代码}\n", "没有 code"},
      {"etfs: [unclosed\n", "YAML 解析失败"},
  };
  int i = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const auto path = (dir / ("u" + std::to_string(i++) + ".yaml")).string();
    quorvel::testing::write_file(path, row.text);
    if (*row.fault == '\0') {
      const EtfUniverse u = load_etf_universe(path);
      ASSERT_EQ(u.etfs.size(), 2u);  // the repeated code is kept once
      EXPECT_EQ(u.etfs[1].name, "沪深300ETF");
      continue;
    }
    try {
      load_etf_universe(path);
      ADD_FAILURE() << "no error";
    } catch (const quorvel::RuntimeError& e) {
      EXPECT_NE(std::string(e.what()).find(row.fault), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(load_etf_universe((dir / "missing.yaml").string()), quorvel::RuntimeError);
}

}  // namespace
}  // namespace zerith
