// The radar evaluation and pool sections of the pattern service on real bundled ETF bars, and the
// selector on top of them. Every expected number was checked by hand against data/bars/etf/*.csv
// (change = close / previous close - 1; volume ratio = volume / mean volume of the 5 bars before;
// EMAs seeded with the simple mean, as TA-Lib does).
#include "zerith/radar_item.h"

#include <cmath>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "contracts/service.h"
#include "quorvel/strategy/radar/opportunity_radar_selector.h"
#include "support/fake_market_data.h"
#include "tarnel/local_market_data.h"
#include "contracts/dates.h"
#include "zerith/radar_pool.h"
#include "zerith/rule_pattern_service.h"

namespace zerith {
namespace {

using quorvel::testing::bundled_bars;

tarnel::BarTable etf_until(const std::string& code, const std::string& day) {
  return bundled_bars("bars/etf/" + code + ".csv").slice(tarnel::parse_date("2015-01-01"), tarnel::parse_date(day));
}

Json evaluate(const std::string& code, const std::string& day, const char* frequency) {
  RadarRequest req{code, "", RadarThresholds{}, std::nullopt, "no index in this test"};
  req.thresholds.frequency = frequency;
  return evaluate_radar_item(etf_until(code, day), req);
}

TEST(RadarItem, HandCheckedExamplesOfEachSection) {
  struct Row {
    const char* code;
    const char* day;
    const char* frequency;
    const char* section;
    const char* prev;
    const char* curr;
    double vol_ratio, change_pct, amount;
    bool buy, sell, anomaly;
  };
  const Row rows[] = {
      // 芯片ETF: close 1.109 vs 1.065, EMA5 1.0876 > EMA10 1.0811 > EMA20 1.0678 (rising).
      {"159995", "2023-02-09", "daily", "量化异动", "趋势上涨", "趋势上涨", 1.59, 4.13, 832442624, false, false, true},
      // 中概互联网ETF: a surge inside a left-side decline.
      {"513050", "2023-03-01", "daily", "量化异动", "左侧下跌", "左侧下跌", 1.50, 4.35, 2968562176, false, false, true},
      // 人工智能ETF, week ending Friday 2023-02-10: close 0.796 vs 0.781, volume 2.33x the 5 weeks before.
      {"159819", "2023-02-10", "weekly", "量化异动", "趋势上涨", "趋势上涨", 2.33, 1.92, 490774548, false, false, true},
      // 消费ETF: EMA5 1.0759 < EMA10 1.0784 on 02-10, then 1.0852 > 1.0830 > EMA20 1.0780 on 02-13.
      {"159928", "2023-02-13", "daily", "潜在机会", "震荡整理", "趋势上涨", 0.82, 2.22, 237863840, true, false, false},
      // 上证50ETF: close 2.739 below EMA20 2.7742 (falling from 2.7779), EMA5 2.7881 < EMA10 2.7962.
      {"510050", "2023-02-06", "daily", "风险提示", "趋势上涨", "左侧下跌", 1.02, -1.58, 2196833536, false, true,
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.code) + " " + row.day + " " + row.frequency);
    const Json item = evaluate(row.code, row.day, row.frequency);
    EXPECT_EQ(item["as_of"], row.day);
    EXPECT_EQ(radar_section(item), row.section);
    EXPECT_EQ(item["prev_state_cn"], row.prev);
    EXPECT_EQ(item["curr_state_cn"], row.curr);
    EXPECT_DOUBLE_EQ(item["vol_ratio"].get<double>(), row.vol_ratio);
    EXPECT_DOUBLE_EQ(item["change_pct"].get<double>(), row.change_pct);
    EXPECT_DOUBLE_EQ(item["amount_ea"].get<double>(), row.amount);
    EXPECT_EQ(item["has_buy_signal"], row.buy);
    EXPECT_EQ(item["has_sell_signal"], row.sell);
    EXPECT_EQ(item["is_vol_abnormal"], row.anomaly);
    EXPECT_TRUE(item["data_sufficient"].get<bool>());
  }
}

TEST(RadarItem, ThresholdsWeeklyModeAndShortHistory) {
  quorvel::Service<tarnel::MarketData>::Guard calendars{quorvel::testing::bundled_market_data()};
  RadarThresholds live, closed;
  live.frequency = closed.frequency = "weekly";
  closed.weekly_mode = "closed";
  const auto daily = etf_until("510300", "2023-02-07");  // a Tuesday
  EXPECT_EQ(radar_bars(daily, checked_thresholds(live)).last_date(), "2023-02-07");
  EXPECT_EQ(radar_bars(daily, checked_thresholds({})).rows(), daily.rows());
  // The last week counts once its market has no session left in it.
  const std::pair<const char*, const char*> closed_weeks[] = {
      {"2023-02-07", "2023-02-03"},  // Tuesday: the week runs on
      {"2023-02-09", "2023-02-03"},  // Thursday: Friday still trades
      {"2023-02-10", "2023-02-10"},  // Friday
      {"2023-06-21", "2023-06-21"},  // Wednesday before the Dragon Boat holiday (Thursday and Friday closed)
  };
  for (const auto& [day, last_week] : closed_weeks) {
    SCOPED_TRACE(day);
    EXPECT_EQ(radar_bars(etf_until("510300", day), checked_thresholds(closed), "ETF").last_date(), last_week);
  }

  for (auto change :
       {+[](RadarThresholds& t) { t.frequency = "monthly"; }, +[](RadarThresholds& t) { t.weekly_mode = "partial"; },
        +[](RadarThresholds& t) { t.min_vol_ratio = -1; }, +[](RadarThresholds& t) { t.min_amount_ea = NAN; }}) {
    RadarThresholds t;
    change(t);
    EXPECT_THROW(checked_thresholds(t), quorvel::ValueError);
  }

  // One bar short of the radar's minimum.
  const Json item =
      evaluate_radar_item(daily.tail(MIN_RADAR_BARS - 1), RadarRequest{"510300", "沪深300ETF", {}, {}, ""});
  EXPECT_FALSE(item["data_sufficient"].get<bool>());
  EXPECT_EQ(item["curr_state_cn"], "");
  EXPECT_EQ(radar_section(item), "");
  EXPECT_NE(item["reason"].get<std::string>().find("数据不足"), std::string::npos);
}

// A flat market broken by a heavy fall below its EMA60: the risk deductions outweigh every point,
// and the score stops at 0 instead of going negative.
TEST(RadarItem, RiskDeductionsStopTheScoreAtZero) {
  tarnel::BarTable bars = tarnel::BarTable::with_base_columns();
  tarnel::Date day = tarnel::parse_date("2022-01-03");
  for (int i = 0; i < 130; ++i, day += date::days(tarnel::weekday_index(day) == 4 ? 3 : 1)) {
    const bool last = i == 129;
    const double close = last ? 95.0 : 100.0;
    bars.append_row(day, {100.0, 100.5, last ? 94.5 : 99.5, close, last ? 3e6 : 1e6, close * (last ? 3e6 : 1e6)});
  }
  const Json item = evaluate_radar_item(bars, RadarRequest{"510300", "沪深300ETF", {}, {}, ""});
  ASSERT_TRUE(item["data_sufficient"].get<bool>());
  ASSERT_GE(item["risk_reasons"].size(), 2u) << item.dump();
  EXPECT_EQ(item["tech_score"].get<double>(), 0.0) << item.dump();
}

TEST(RadarPool, SectionsAreExclusiveSortedAndFailuresSkipped) {
  const Json sure = true;
  struct Row {
    const char* code;
    Json flags;
    double score;
    const char* section;  // empty: none
  };
  const Row rows[] = {
      {"A1", {{"is_vol_abnormal", sure}, {"is_opportunity", sure}}, 50, "量化异动"},
      {"A2", {{"is_vol_abnormal", sure}}, 70, "量化异动"},
      {"B1", {{"is_opportunity", sure}}, 40, "潜在机会"},
      {"B2", {{"has_buy_signal", sure}}, 40, "潜在机会"},
      {"C1", {{"is_risk", sure}, {"is_vol_abnormal", sure}, {"is_opportunity", sure}}, 90, "风险提示"},
      {"C2", {{"has_sell_signal", sure}, {"has_buy_signal", sure}}, 10, "风险提示"},
      {"D1", Json::object(), 99, ""},
  };
  RadarPool pool;
  std::map<std::string, Json> items;
  for (const Row& row : rows) {
    pool[row.code] = {std::string("名") + row.code, tarnel::BarTable::with_base_columns()};
    items[row.code] = row.flags;
    items[row.code]["tech_score"] = row.score;
    EXPECT_EQ(radar_section(items[row.code]), row.section) << row.code;
  }
  pool["E1"] = {"坏", tarnel::BarTable::with_base_columns()};
  const Json result = analyze_radar_pool(
      pool, "daily",
      [&](const std::string& code, const std::string& name, const tarnel::BarTable&) {
        if (code == "E1") throw quorvel::RuntimeError("读取失败");
        Json item = items.at(code);
        item["name"] = name;
        return item;
      },
      2);
  auto codes = [&](const char* section) {
    std::vector<std::string> out;
    for (const auto& r : result[section]) out.push_back(r["code"]);
    return out;
  };
  EXPECT_EQ(codes("量化异动"), (std::vector<std::string>{"A2", "A1"}));
  EXPECT_EQ(codes("潜在机会"), (std::vector<std::string>{"B1", "B2"}));
  EXPECT_EQ(codes("风险提示"), (std::vector<std::string>{"C1", "C2"}));
  EXPECT_EQ(result["风险提示"][1]["signal"], "卖出");
  EXPECT_EQ(result["潜在机会"][1]["signal"], "买入");
  EXPECT_EQ(result["量化异动"][0]["name"], "名A2");
  EXPECT_EQ(result["errors"], Json::parse(R"([{"code": "E1", "error": "读取失败"}])"));
  EXPECT_EQ(result["summary"],
            Json::parse(R"({"total": 8, "evaluated": 7, "flagged": 6, "insufficient": 0, "failed": 1})"));
}

TEST(RadarSelectorOnRealBars, TheRulesOnTheServicesEvaluations) {
  auto market = std::make_shared<quorvel::testing::FakeMarketData>();
  for (const char* code : {"159995", "513050", "510050", "159928"})
    market->bars[code] = bundled_bars(std::string("bars/etf/") + code + ".csv");
  quorvel::Service<tarnel::MarketData>::Guard market_guard(market);
  quorvel::Service<PatternService>::Guard pattern_guard(std::make_shared<RulePatternService>(nullptr));
  struct Row {
    const char* code;
    const char* day;
    bool eligible;
    const char* type;
  };
  const Row rows[] = {
      {"159995", "2023-02-09", true, "趋势跟随"},   // anomaly with a passing trend pre-screen
      {"513050", "2023-03-01", false, "量化异动"},  // anomaly, but a left-side decline without a buy signal
      {"510050", "2023-02-06", false, "均线压缩"},  // sell signal
      {"159928", "2023-02-13", true, "均线压缩"},   // buy signal
  };
  quorvel::strategy::radar::OpportunityRadarSelector selector({.frequency = "daily"});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    const auto r = selector.check(row.code, "2015-01-01", row.day);
    EXPECT_EQ(r.passed, row.eligible);
    EXPECT_EQ(r.strategy_type, row.type);
    const Json info = Json::parse(r.pattern_info_str);
    EXPECT_EQ(info["radar"]["frequency"], "daily");
    EXPECT_EQ(info["radar"].size(), 11u);
  }
}

}  // namespace
}  // namespace zerith
