// The technical selectors over a scripted pre-screen: acceptance rules, thresholds, log lines and
// the six-field result.
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "contracts/constants.h"
#include "contracts/errors.h"
#include "quorvel/strategy/technical/all_stock_selector.h"
#include "quorvel/strategy/technical/date_str.h"
#include "quorvel/strategy/technical/pool_screen.h"
#include "quorvel/strategy/technical/scan_selector.h"
#include "support/fake_market_data.h"
#include "support/scripted_pattern_service.h"
#include "support/test_support.h"

namespace quorvel::strategy::technical {
namespace {

using quorvel::testing::BarsBuilder;
using quorvel::testing::FakeMarketData;
using quorvel::testing::LogCapture;
using quorvel::testing::ScriptedPatternService;
using Json = nlohmann::ordered_json;

// Thresholds chosen so that every branch is reachable: "等待突破" has no entry of its own.
std::shared_ptr<constants::TuningConstants> test_constants(bool with_trend_entry = true) {
  auto c = std::make_shared<constants::TuningConstants>(constants::TuningConstants::default_instance());
  c->STRATEGY_THRESHOLDS = {{"底部反转", 4.0}};
  if (with_trend_entry) c->STRATEGY_THRESHOLDS["趋势跟随"] = 6.0;
  c->DEFAULT_STRATEGY_THRESHOLD = 5.0;
  return c;
}

std::unique_ptr<StockSelector> make(const std::string& name) { return selector_factory(name)(); }

class SelectorTest : public ::testing::Test {
 protected:
  SelectorTest() {
    market->bars["sh.600000"] = BarsBuilder().series("2023-01-02", 30).build();
  }
  std::shared_ptr<FakeMarketData> market = std::make_shared<FakeMarketData>();
  std::shared_ptr<ScriptedPatternService> patterns = std::make_shared<ScriptedPatternService>();
  Service<tarnel::MarketData>::Guard market_guard{market};
  Service<zerith::PatternService>::Guard pattern_guard{patterns};
};

TEST_F(SelectorTest, AcceptanceRulesAndMessages) {
  struct Row {
    const char* selector;
    std::optional<const char*> type;  // absent: the scan reports no type
    double score;
    bool thresholds_have_trend;
    bool eligible;
    const char* expected_type;
    const char* message;  // the info line after the code; empty: none
  };
  const Row rows[] = {
      {"brp", "等待突破", 4.0, true, true, "等待突破", " 通过底部反转筛选 (评分: 4.0)"},
      {"brp", "底部反转", 3.99, true, false, "底部反转", " 底部反转评分 (3.99) 低于 4.0 门槛"},
      {"brp", "趋势跟随", 9.0, true, false, "趋势跟随", " 策略类型为 趋势跟随, 不符合 BRPSelector (仅限底部反转)"},
      {"brp", std::nullopt, 4.5, true, true, "底部反转", " 通过底部反转筛选 (评分: 4.5)"},
      {"tf", "底部反转", 9.0, true, false, "底部反转", " 策略类型为 底部反转, 不符合 TFSelector (仅限趋势跟随)"},
      {"tf", "趋势跟随", 6.0, true, true, "趋势跟随", " 通过趋势跟随筛选 (评分: 6.0)"},
      {"tf", "趋势跟随", 5.5, true, false, "趋势跟随", " 趋势跟随评分 (5.50) 低于 6.0 门槛"},
      {"tf", "趋势跟随", 4.96, false, false, "趋势跟随", " 趋势跟随评分 (4.96) 低于 5.0 门槛"},
      {"combined", "等待突破", 9.0, true, false, "等待突破", " 策略类型 等待突破 不在允许的策略类型范围内"},
      {"combined", std::nullopt, 9.0, true, false, "混合", " 策略类型 混合 不在允许的策略类型范围内"},
      {"combined", "趋势跟随", 75.0, true, true, "趋势跟随", " 通过组合筛选 (类型: 趋势跟随, 评分: 75.0)"},
      {"combined", "底部反转", 3.5, true, false, "底部反转", " 底部反转 评分 (3.50) 低于 4.0 门槛"},
      {"combined", "趋势跟随", 5.0, false, false, "趋势跟随", " 策略类型 趋势跟随 不在允许的策略类型范围内"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.selector) + " " + row.expected_type + " " + std::to_string(row.score));
    Service<constants::TuningConstants>::Guard constants_guard(test_constants(row.thresholds_have_trend));
    patterns->scan = {{"pre_screen_passed", true}, {"total_score", row.score}, {"note", "形态"}};
    if (row.type) patterns->scan["strategy_type"] = *row.type;
    LogCapture log;
    const auto r = make(row.selector)->check("sh.600000", "2023-01-01", "2023-03-01");
    EXPECT_EQ(r.passed, row.eligible);
    EXPECT_EQ(r.strategy_type, row.expected_type);
    EXPECT_DOUBLE_EQ(r.score, row.score);
    EXPECT_EQ(r.df.rows(), 30u);
    ASSERT_TRUE(r.stock_status.has_value());
    EXPECT_EQ(r.stock_status->code, "sh.600000");
    EXPECT_NE(r.pattern_info_str.find("\"note\": \"形态\""), std::string::npos) << r.pattern_info_str;
    EXPECT_EQ(log.lines(), std::vector<std::string>{std::string("info|sh.600000") + row.message});
  }
}

TEST_F(SelectorTest, FailedScanKeepsItsFactsAndLogsNothing) {
  Service<constants::TuningConstants>::Guard constants_guard(test_constants());
  patterns->scan = {{"pre_screen_passed", false}, {"total_score", 9.0}, {"strategy_type", "趋势跟随"}};
  for (const char* name : {"brp", "tf", "combined"}) {
    SCOPED_TRACE(name);
    LogCapture log;
    const auto r = make(name)->check("sh.600000", "2023-01-01", "2023-03-01");
    EXPECT_FALSE(r.passed);
    EXPECT_EQ(r.strategy_type, "趋势跟随");
    EXPECT_DOUBLE_EQ(r.score, 9.0);
    EXPECT_EQ(r.pattern_info_str, R"({"pre_screen_passed": false, "total_score": 9.0, "strategy_type": "趋势跟随"})");
    EXPECT_TRUE(log.lines().empty());
  }
}

TEST_F(SelectorTest, ScanIsAskedWithTheSelectorsModeAndTheCallersOptions) {
  patterns->scan = {{"pre_screen_passed", false}};
  const Json extra = {{"lookback", 120}};
  make("tf")->check("sh.600000", "2023-01-01", "2023-03-01", extra);
  make("brp")->check("sh.600000", "2023-01-01", "2023-03-01");
  make("combined")->check("sh.600000", "2023-01-01", "2023-03-01");
  ASSERT_EQ(patterns->scans.size(), 3u);
  EXPECT_EQ(patterns->scans[0].mode, "trend");
  EXPECT_EQ(patterns->scans[0].options, extra);
  EXPECT_EQ(patterns->scans[1].mode, "all");
  EXPECT_EQ(patterns->scans[2].mode, "all");
  for (const auto& call : patterns->scans) {
    EXPECT_EQ(call.symbol, "sh.600000");
    EXPECT_EQ(call.min_score, 3.0);
  }
  EXPECT_THROW(make("combined")->check("sh.600000", "2023-01-01", "2023-03-01", {{"mode", "trend"}}), TypeError);
  EXPECT_EQ(patterns->scans.size(), 3u);
  EXPECT_THROW(selector_factory("momentum"), ValueError);
}

TEST_F(SelectorTest, NoBarsGivesEachSelectorsNoDataResult) {
  for (auto [name, tag] : {std::pair{"all", "ALL"}, {"brp", "BRP"}, {"tf", "TF"}, {"combined", "COMBINED"}}) {
    SCOPED_TRACE(name);
    const auto selector = make(name);
    LogCapture log;
    const auto r = selector->check("sz.000001", "2023-01-01", "2023-03-01");
    EXPECT_FALSE(r.passed);
    EXPECT_FALSE(r.stock_status.has_value());
    EXPECT_TRUE(r.df.empty());
    EXPECT_EQ(r.pattern_info_str, "");
    EXPECT_EQ(r.score, 0.0);
    EXPECT_EQ(r.strategy_type, tag);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"warning|股票 sz.000001 没有数据"});
  }
  EXPECT_TRUE(patterns->scans.empty());
}

TEST_F(SelectorTest, AllStockSelectorPassesWithoutScanning) {
  LogCapture log;
  AllStockSelector selector;
  EXPECT_TRUE(log.contains("AllStockSelector init"));
  const auto r = selector.check("sh.600000", "2023-01-01", "2023-03-01", {{"anything", 1}});
  EXPECT_TRUE(r.passed);
  EXPECT_EQ(r.score, 0.0);
  EXPECT_EQ(r.pattern_info_str, "");
  EXPECT_EQ(r.strategy_type, "ALL");
  ASSERT_TRUE(r.stock_status.has_value());
  EXPECT_TRUE(patterns->scans.empty());
}

TEST(DateStr, RowDatesAndOutOfRange) {
  const auto df = BarsBuilder().series("2023-02-06", 3).build();
  EXPECT_EQ(_get_date_str(df, 0), "2023-02-06");
  EXPECT_EQ(_get_date_str(df, 2), "2023-02-08");
  EXPECT_EQ(_get_date_str(df, 3), "");
  EXPECT_EQ(_get_date_str(df, -1), "");
}

}  // namespace
}  // namespace quorvel::strategy::technical
