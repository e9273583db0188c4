// The opportunity radar selector over scripted radar evaluations: the eligibility chain, the
// strategy type, the pattern information, the log lines, the options, and the pool frequency.
#include <memory>
#include <string>
#include <type_traits>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "contracts/clock.h"
#include "contracts/errors.h"
#include "quorvel/strategy/radar/default_frequency.h"
#include "quorvel/strategy/radar/opportunity_radar_selector.h"
#include "support/fake_market_data.h"
#include "support/scripted_pattern_service.h"
#include "support/test_support.h"
#include "contracts/dates.h"

namespace quorvel::strategy::radar {
namespace {

using quorvel::testing::BarsBuilder;
using quorvel::testing::LogCapture;
using quorvel::testing::ScriptedPatternService;
using Json = nlohmann::ordered_json;

static_assert(std::is_same_v<RadarSelector, OpportunityRadarSelector>);

// Today pinned to a weekday (2023-02-08 is a Wednesday, 2023-02-11 a Saturday).
std::shared_ptr<Clock> pinned(const char* day) {
  const auto d = tarnel::parse_date(day);
  return std::make_shared<FixedClock>(d, date::year_month_day{d});
}

// The arguments a radar call received: frequency, min_amount_ea, min_vol_ratio, min_pct_change and
// weekly_mode ("-" when absent).
std::string args(const zerith::RadarThresholds& t) {
  return fmt::format("{} {} {} {} {}", t.frequency.value_or("-"),
                     t.min_amount_ea ? fmt::format("{}", *t.min_amount_ea) : "-", t.min_vol_ratio, t.min_pct_change,
                     t.weekly_mode.value_or("-"));
}

// Market data that hands out every bar when the end date is empty.
class Market : public quorvel::testing::FakeMarketData {
 public:
  tarnel::BarTable get_any_ohlc(const std::string& code, const std::string& start, const std::string& end) override {
    if (end.empty()) return bars.count(code) ? bars[code] : tarnel::BarTable::with_base_columns();
    return FakeMarketData::get_any_ohlc(code, start, end);
  }
};

TEST(DefaultFrequency, FridayToSundayWeeklyOtherDaysDailyUnparsableToday) {
  struct Row {
    const char* text;
    const char* on_wednesday;  // answer when today is a Wednesday
    const char* on_saturday;   // answer when today is a Saturday
  };
  // clang-format off
  const Row rows[] = {
      {"2023-02-06", "daily", "daily"}, {"2023-02-09", "daily", "daily"}, {"2023-02-10", "weekly", "weekly"},
      {"2023-02-11", "weekly", "weekly"}, {"2023-02-12", "weekly", "weekly"}, {"2023/02/10", "weekly", "weekly"},
      {"20230207", "daily", "daily"}, {"2023.2.9", "daily", "daily"}, {" 2023-02-10 15:00:00", "weekly", "weekly"},
      {"2023-02-10T09:30:00+08:00", "weekly", "weekly"}, {"2023-02-07_1500", "daily", "daily"},
      {"garbage", "daily", "weekly"}, {"2023-02-30", "daily", "weekly"}, {"", "daily", "weekly"},
      {"2023-02-10 noon", "daily", "weekly"},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    {
      Service<Clock>::Guard clock(pinned("2023-02-08"));
      EXPECT_EQ(get_default_frequency(row.text), row.on_wednesday);
    }
    Service<Clock>::Guard clock(pinned("2023-02-11"));
    EXPECT_EQ(get_default_frequency(row.text), row.on_saturday);
  }
  Service<Clock>::Guard clock(pinned("2023-02-08"));
  EXPECT_EQ(get_default_frequency(), "daily");
  EXPECT_EQ(get_default_frequency(tarnel::parse_date("2023-02-10")), "weekly");
}

class RadarSelectorTest : public ::testing::Test {
 protected:
  // 29 quiet bars, then a last bar (Friday 2023-02-10) that opens at `open` and closes at `close`.
  void last_bar(double open, double close) {
    market->bars["sh.600000"] =
        BarsBuilder().series("2023-01-02", 29).day("2023-02-10", open, 10.5, 9.5, close, 2000).build();
  }
  SelectorCheckResult check(const RadarConfig& config, const Json& options = Json::object()) {
    OpportunityRadarSelector selector(config);
    return selector.check("sh.600000", "2023-01-01", "2023-02-10", options);
  }
  std::shared_ptr<Market> market = std::make_shared<Market>();
  std::shared_ptr<ScriptedPatternService> patterns = std::make_shared<ScriptedPatternService>();
  Service<tarnel::MarketData>::Guard market_guard{market};
  Service<zerith::PatternService>::Guard pattern_guard{patterns};
};

TEST_F(RadarSelectorTest, EligibilityChainAndStrategyType) {
  struct Row {
    const char* what;
    Json item;
    RadarConfig config;
    double open, close;  // last bar
    bool eligible;
    const char* type;
  };
  const Json anomaly = {{"is_vol_abnormal", true}, {"curr_state_cn", "右侧启动"}};
  auto with = [](Json item, const Json& more) {
    item.update(more);
    return item;
  };
  const Json opp = {{"is_opportunity", true}, {"tech_score", 60}, {"change_pct", 2.0}};
  const Json hint = {
      {"pre_screen_res", {{"strategy_type", "底部反转"}, {"pre_screen", {{"strategy_hint", "均线压缩"}}}}}};
  // clang-format off
  const Row rows[] = {
      {"falling anomaly is no candidate", with(anomaly, {{"change_pct", -0.5}}), {}, 10, 10, false, "量化异动"},
      {"flat anomaly is a candidate", with(anomaly, {{"change_pct", 0.0}}), {}, 10, 10, true, "量化异动"},
      {"anomaly not allowed", with(anomaly, {{"change_pct", 1.0}}), {.allow_abnormal = false}, 10, 10, false, "量化异动"},
      {"solid bear candle -1.1%", opp, {}, 10.00, 9.89, false, "机会雷达"},
      {"exactly -1% is no solid bear", opp, {}, 10.00, 9.90, true, "机会雷达"},
      {"bear candle allowed", opp, {.reject_bearish = false}, 10.00, 9.89, true, "机会雷达"},
      {"zero open is never a bear candle", opp, {}, 0.0, 5.0, true, "机会雷达"},
      {"score equal to the minimum", opp, {.min_score = 60}, 10, 10, true, "机会雷达"},
      {"score below the minimum", opp, {.min_score = 60.5}, 10, 10, false, "机会雷达"},
      {"opportunity not allowed", opp, {.allow_opportunity = false}, 10, 10, false, "机会雷达"},
      {"buy signal alone is a candidate", {{"has_buy_signal", true}, {"curr_state_cn", "左侧下跌"}},
       {.allow_opportunity = false, .allow_abnormal = false}, 10, 10, true, "左侧下跌"},
      {"left-side decline without buy", with(opp, {{"curr_state_cn", "左侧下跌"}}), {}, 10, 10, false, "左侧下跌"},
      {"falling change is bearish", with(opp, {{"change_pct", -0.01}}), {}, 10, 10, false, "机会雷达"},
      {"risk rejects", with(opp, {{"is_risk", true}}), {}, 10, 10, false, "机会雷达"},
      {"risk is bearish too", with(opp, {{"is_risk", true}}), {.reject_risk = false}, 10, 10, false, "机会雷达"},
      {"risk allowed", with(opp, {{"is_risk", true}}), {.reject_risk = false, .reject_bearish = false}, 10, 10, true,
       "机会雷达"},
      {"sell signal rejects", with(opp, {{"has_sell_signal", true}}), {.reject_bearish = false}, 10, 10, false,
       "机会雷达"},
      {"accepted hint", with(opp, hint), {}, 10, 10, true, "均线压缩"},
      {"anomaly wins over the hint", with(with(anomaly, hint), {{"change_pct", 2.0}}), {}, 10, 10, true, "量化异动"},
      {"type when no hint", with(opp, {{"pre_screen_res", {{"strategy_type", "底部反转"}, {"pre_screen", {}}}}}), {},
       10, 10, true, "底部反转"},
      {"unknown hint falls to the state",
       with(opp, {{"curr_state_cn", "底部企稳"}, {"pre_screen_res", {{"pre_screen", {{"strategy_hint", "等待突破"}}}}}}),
       {}, 10, 10, true, "底部企稳"},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    last_bar(row.open, row.close);
    patterns->radar_item = row.item;
    const auto r = check(row.config);
    EXPECT_EQ(r.passed, row.eligible);
    EXPECT_EQ(r.strategy_type, row.type);
    EXPECT_DOUBLE_EQ(r.score, row.item.value("tech_score", 0.0));
    ASSERT_TRUE(r.stock_status.has_value());
    EXPECT_EQ(r.df.rows(), 30u);
  }
}

TEST_F(RadarSelectorTest, LogLines) {
  last_bar(10, 10);
  struct Row {
    Json item;
    const char* line;
  };
  const Row rows[] = {
      {{{"is_opportunity", true},
        {"tech_score", 72.25},
        {"vol_ratio", 2.345},
        {"change_pct", 3.0},
        {"curr_state_cn", "右侧启动"}},
       "info|sh.600000 通过机会雷达初筛 (频段: weekly, 状态: 右侧启动, 策略: 右侧启动, 评分: 72.2, 放量: 2.35x, "
       "涨跌幅: 3.00%)"},
      {{{"is_vol_abnormal", true}, {"tech_score", 12}, {"change_pct", -0.5}},
       "debug|sh.600000 未通过机会雷达初筛 (频段: weekly, tech_score=12.0, is_opp=False, is_vol=True, is_risk=False, "
       "is_bearish=True)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    patterns->radar_item = row.item;
    OpportunityRadarSelector selector;
    LogCapture log;
    selector.check("sh.600000", "2023-01-01", "2023-02-10");
    EXPECT_EQ(log.lines(), std::vector<std::string>{row.line});
  }
  const std::pair<RadarConfig, const char*> inits[] = {
      {{}, "(frequency=auto(周五周频/平日日频), min_score=0.0, reject_bearish=True)"},
      {{.frequency = "", .min_score = 2}, "(frequency=auto(周五周频/平日日频), min_score=2.0, reject_bearish=True)"},
      {{.frequency = "daily", .min_score = 2.5, .reject_bearish = false},
       "(frequency=daily, min_score=2.5, reject_bearish=False)"},
  };
  for (const auto& [config, text] : inits) {
    LogCapture log;
    OpportunityRadarSelector selector(config);
    EXPECT_EQ(log.lines(), std::vector<std::string>{std::string("info|OpportunityRadarSelector 初始化完成 ") + text});
  }
}

TEST_F(RadarSelectorTest, PatternInfoIsThePreScreenWithTheElevenRadarEntries) {
  last_bar(10, 10);
  patterns->radar_item = {{"tech_score", 5},
                          {"is_opportunity", 1},
                          {"curr_state_cn", "右侧启动"},
                          {"prev_state_cn", "左侧下跌"},
                          {"vol_ratio", "2.5"},
                          {"amount_ea", 1.5e8},
                          {"pre_screen_res", {{"strategy_type", "底部反转"}, {"radar", "旧"}, {"total_score", 4.5}}}};
  const auto r = check({.frequency = "daily"});
  EXPECT_EQ(r.pattern_info_str,
            R"({"strategy_type": "底部反转", "radar": {"curr_state_cn": "右侧启动", "prev_state_cn": "左侧下跌", )"
            R"("vol_ratio": 2.5, "change_pct": 0.0, "amount_ea": 150000000.0, "is_vol_abnormal": false, )"
            R"("is_opportunity": true, "is_risk": false, "has_buy_signal": false, "has_sell_signal": false, )"
            R"("frequency": "daily"}, "total_score": 4.5})");
  // No pre-screen at all: the radar entry alone, every evaluation key at its default.
  patterns->radar_item = {{"pre_screen_res", Json::array()}};
  const auto bare = check({});
  EXPECT_EQ(bare.pattern_info_str,
            R"({"radar": {"curr_state_cn": "", "prev_state_cn": "", "vol_ratio": 1.0, "change_pct": 0.0, )"
            R"("amount_ea": 0.0, "is_vol_abnormal": false, "is_opportunity": false, "is_risk": false, )"
            R"("has_buy_signal": false, "has_sell_signal": false, "frequency": "weekly"}})");
  EXPECT_EQ(bare.strategy_type, "机会雷达");
  EXPECT_FALSE(bare.passed);
}

TEST_F(RadarSelectorTest, BadEvaluationValuesAndOptionsPropagate) {
  last_bar(10, 10);
  struct Row {
    Json item, options;
    bool value_error;  // else a type error
  };
  const Row rows[] = {
      {{{"tech_score", "abc"}}, Json::object(), true},
      {{{"change_pct", nullptr}}, Json::object(), false},
      {{{"pre_screen_res", "底部反转"}}, Json::object(), false},
      {{{"pre_screen_res", {{"pre_screen", {1, 2}}}}}, Json::object(), false},
      {Json::object(), {{"frequency", 5}}, false},
      {Json::object(), {{"min_amount_ea", "1e7"}}, false},
      {Json::object(), Json::array(), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.item.dump() + row.options.dump());
    patterns->radar_item = row.item;
    if (row.value_error)
      EXPECT_THROW(check({}, row.options), ValueError);
    else
      EXPECT_THROW(check({}, row.options), TypeError);
  }
}

TEST_F(RadarSelectorTest, OptionsOverrideTheConfigurationForOneCall) {
  last_bar(10, 10);
  patterns->radar_item = {{"is_opportunity", true}, {"tech_score", 40}};
  OpportunityRadarSelector selector({.min_amount_ea = 5e6, .weekly_mode = "live"});
  const Json options = {{"frequency", "daily"}, {"min_vol_ratio", 2},      {"min_pct_change", "3"},
                        {"min_amount_ea", 1e7}, {"weekly_mode", "closed"}, {"min_score", 50},
                        {"name", "浦发银行"},   {"unknown", true}};
  EXPECT_FALSE(selector.check("sh.600000", "2023-01-01", "2023-02-10", options).passed);
  EXPECT_TRUE(selector.check("sh.600000", "2023-01-01", "2023-02-07").passed);
  EXPECT_TRUE(selector.check("sh.600000", "2023-01-01", "").passed);
  ASSERT_EQ(patterns->radar_calls.size(), 3u);
  EXPECT_EQ(patterns->radar_calls[0].name, "浦发银行");
  EXPECT_EQ(args(patterns->radar_calls[0].thresholds), "daily 10000000 2 3 closed");
  // The configuration again; the frequency by the end date (a Tuesday), then by the last bar (a Friday).
  EXPECT_EQ(patterns->radar_calls[1].name, "");
  EXPECT_EQ(patterns->radar_calls[1].rows, 27u);
  EXPECT_EQ(args(patterns->radar_calls[1].thresholds), "daily 5000000 1.5 1.5 live");
  EXPECT_EQ(args(patterns->radar_calls[2].thresholds), "weekly 5000000 1.5 1.5 live");
}

TEST_F(RadarSelectorTest, NoBarsGivesTheWatchTag) {
  OpportunityRadarSelector selector;
  LogCapture log;
  const auto r = selector.check("sz.000001", "2023-01-01", "2023-02-10");
  EXPECT_FALSE(r.passed);
  EXPECT_FALSE(r.stock_status.has_value());
  EXPECT_TRUE(r.df.empty());
  EXPECT_EQ(r.pattern_info_str, "");
  EXPECT_EQ(r.score, 0.0);
  EXPECT_EQ(r.strategy_type, "雷达观望");
  EXPECT_EQ(log.lines(), std::vector<std::string>{"warning|股票 sz.000001 没有数据"});
  EXPECT_TRUE(patterns->radar_calls.empty());
}

TEST_F(RadarSelectorTest, PoolFrequencyAndArguments) {
  Service<Clock>::Guard clock(pinned("2023-02-08"));
  const auto monday = BarsBuilder().series("2023-01-02", 26).build();  // ends 2023-02-06 (Monday)
  const auto friday = BarsBuilder().series("2023-01-02", 30).build();  // ends 2023-02-10
  const zerith::RadarPool mixed{{"510050", {"上证50ETF", monday}},
                                {"510300", {"沪深300ETF", friday}},
                                {"159509", {"纳指科技ETF", tarnel::BarTable::with_base_columns()}}};
  const zerith::RadarPool monday_only{{"510050", {"上证50ETF", monday}}};
  const zerith::RadarPool empty{{"159509", {"纳指科技ETF", tarnel::BarTable::with_base_columns()}}};
  struct Row {
    const zerith::RadarPool* pool;
    PoolOptions options;
    const char* frequency;
  };
  const Row rows[] = {
      {&mixed, {.frequency = "daily", .target_date = "2023-02-10"}, "daily"},
      {&mixed, {.target_date = "2023-02-07"}, "daily"},
      {&monday_only, {.target_date = "2023-02-10"}, "weekly"},
      {&mixed, {}, "weekly"},
      {&mixed, {.frequency = "", .target_date = ""}, "weekly"},
      {&monday_only, {}, "daily"},
      {&empty, {}, "daily"},  // today, a Wednesday
  };
  patterns->radar_pool = {
      {"量化异动", Json::array()}, {"潜在机会", {{{"code", "510300"}}}}, {"风险提示", Json::array()}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.frequency);
    patterns->radar_calls.clear();
    EXPECT_EQ(OpportunityRadarSelector::analyze_pool(*row.pool, row.options), patterns->radar_pool);
    ASSERT_EQ(patterns->radar_calls.size(), 1u);
    EXPECT_EQ(patterns->radar_calls[0].thresholds.frequency, row.frequency);
  }
  patterns->radar_calls.clear();
  OpportunityRadarSelector::analyze_pool(
      mixed, {.min_amount_ea = 1e6, .min_vol_ratio = 2, .min_pct_change = 3, .weekly_mode = "closed"});
  const auto& call = patterns->radar_calls.at(0);
  EXPECT_EQ(call.pool_codes, (std::vector<std::string>{"159509", "510050", "510300"}));
  EXPECT_EQ(call.rows, 56u);
  EXPECT_EQ(args(call.thresholds), "weekly 1000000 2 3 closed");
}

}  // namespace
}  // namespace quorvel::strategy::radar
