#include <gtest/gtest.h>

#include "quorvel/agent/solvara/core_index_table.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/run_sync.h"
#include "solvara_fakes.h"
#include "support/test_support.h"
#include "tarnel/local_market_data.h"

namespace quorvel::agent::solvara {
namespace {

// Real bundled bars, with one index failing on request.
class FlakyMarketData : public tarnel::ForwardingMarketData {
 public:
  using ForwardingMarketData::ForwardingMarketData;
  std::string failing_code;
  tarnel::BarTable get_index_ohlc(const tarnel::MarketIndex& index, const std::string& end_date) override {
    if (index.code == failing_code) throw std::runtime_error("行情源超时");
    return ForwardingMarketData::get_index_ohlc(index, end_date);
  }
};

class CoreIndexTableTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  std::shared_ptr<FlakyMarketData> data = std::make_shared<FlakyMarketData>(
      std::make_shared<tarnel::LocalMarketData>(dir / "s.sqlite", get_project_root() / "data"));
  Service<tarnel::MarketData>::Guard guard{data};
  std::shared_ptr<testing::FakeSentiment> sentiment = std::make_shared<testing::FakeSentiment>();
  Service<zerith::SentimentThermometer>::Guard sentiment_guard{sentiment};
};

std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (true) {
    const auto nl = s.find('\n', start);
    out.push_back(s.substr(start, nl - start));
    if (nl == std::string::npos) return out;
    start = nl + 1;
  }
}

TEST_F(CoreIndexTableTest, AShareTableOfTheFourCoreIndicesOnRealBars) {
  const auto core = run_sync(_generate_core_index_table("ETF", "2023-02-10_1500"));
  const auto rows = split(core.table);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], "| 指数名称 | 涨跌幅 | 量比 | 趋势状态 |");
  EXPECT_EQ(rows[1], "| :--- | :--- | :--- | :--- |");
  EXPECT_EQ(rows[2].rfind("| **上证指数** | ", 0), 0u);
  EXPECT_EQ(rows[3].rfind("| **创业板指** | ", 0), 0u);
  EXPECT_EQ(rows[4].rfind("| **科创50** | ", 0), 0u);
  EXPECT_EQ(rows[5].rfind("| **沪深300** | ", 0), 0u);
  // 2023-02-10: SSE Composite closed at 3260.67 from 3270.38 the day before.
  EXPECT_EQ(rows[2].rfind("| **上证指数** | -0.30% | ", 0), 0u) << rows[2];
  const auto facts = split(core.facts);
  ASSERT_EQ(facts.size(), 4u);
  EXPECT_EQ(facts[0].rfind("- **上证指数**：涨跌幅 -0.30%，量比 ", 0), 0u);
  EXPECT_NE(facts[0].find("；收盘"), std::string::npos);
  EXPECT_FALSE(core.verdict.bias.empty());
  EXPECT_NE(core.verdict.rationale.find("第一指数 -0.30%"), std::string::npos);
}

TEST_F(CoreIndexTableTest, AFailingIndexGetsADataErrorRowAndTheOthersStay) {
  data->failing_code = "sz.399006";
  testing::LogCapture log;
  const auto core = run_sync(_generate_core_index_table("A", "2023-02-10"));
  const auto rows = split(core.table);
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[3], "| **创业板指** | — | — | 数据错误 |");
  EXPECT_EQ(split(core.facts)[1], "- **创业板指**：数据错误");
  EXPECT_TRUE(log.contains("[大盘 AI 简报] 计算 创业板指 性能失败: 行情源超时"));
}

TEST_F(CoreIndexTableTest, SelectionPerMarketAndMissingData) {
  const auto us = run_sync(_generate_core_index_table("US", "2022-12-30"));
  EXPECT_EQ(split(us.table).size(), 5u);
  EXPECT_NE(us.table.find("**道琼斯**"), std::string::npos);
  const auto hk = run_sync(_generate_core_index_table("HK", "2023-11-07"));
  const auto hk_rows = split(hk.table);
  ASSERT_EQ(hk_rows.size(), 4u);
  EXPECT_EQ(hk_rows[3], "| **恒生科技指数** | — | — | 数据不足 |");  // not in the bundled data
  EXPECT_EQ(split(hk.facts)[1], "- **恒生科技指数**：涨跌幅 —，量比 —；数据不足");
  // The bundled ChiNext index stops on 2023-02-13: a month later it has no move of the day.
  const auto a_share = run_sync(_generate_core_index_table("A", "2023-03-14"));
  EXPECT_NE(a_share.table.find("| **创业板指** | — | — | 数据缺失 (最新 2023-02-13) |"), std::string::npos) << a_share.table;
  EXPECT_NE(a_share.facts.find("- **创业板指**：2023-03-14 无日线，数据缺失"), std::string::npos);
  const auto none = run_sync(_generate_core_index_table("JP", "2023-02-10"));
  EXPECT_EQ(none.table, "（暂无核心指数数据）");
  EXPECT_EQ(none.verdict.rationale, "核心指数数据不足，保守处理");
}

TEST_F(CoreIndexTableTest, SentimentBlockRendersBothFrequencies) {
  const auto [block, meta] = _format_sentiment_block("etf", "2023-02-10");
  EXPECT_EQ(block,
            "### 4. A 股情绪温度计（sentiment_thermometer 权威计算）\n"
            "- D线：温度 **41.2** · 中性(35-65) · 升温 · 置信度 0.83 · 样本 57 只 ETF\n"
            "  - 温区：中性区；战术总方针：均衡配置\n"
            "  - 趋势解读：动量升温/趋势延续：资金情绪边际改善。\n"
            "  - 子因子分位：广度 0.62 · 动量 0.4 · 量能 73.0\n"
            "- W线：温度 **12.0** · 冰点(≤15) · 降温 · 置信度 0.50 · 样本 57 只 ETF\n"
            "  - 温区：冰点区；战术总方针：左侧分批布局\n"
            "  - 趋势解读：资金情绪边际降温，需结合所在温区收紧仓位与止盈纪律。\n"
            "  - 子因子分位：\n");
  EXPECT_EQ(meta["injected"], true);
  const auto [hk_block, hk_meta] = _format_sentiment_block("HK", "2023-02-10");
  EXPECT_EQ(hk_block, "");
  EXPECT_EQ(hk_meta["skip_reason"], "unsupported_market_type");
}

TEST_F(CoreIndexTableTest, SentimentFailuresDegradeWithAShortReason) {
  sentiment->daily["state"] = "MYSTERY";
  EXPECT_NE(_format_sentiment_block("A", "2023-02-10").first.find("· MYSTERY ·"), std::string::npos);
  sentiment->daily.erase("direction");
  testing::LogCapture log;
  EXPECT_EQ(_format_sentiment_block("A", "2023-02-10").first, "");
  EXPECT_TRUE(log.contains("[大盘 AI 简报] 情绪温度计计算失败（降级）: "));
  sentiment->fail = true;
  EXPECT_EQ(_format_sentiment_block("A", "2023-02-10").second["skip_reason"].get<std::string>().size(), 200u);
}

TEST(SentimentMeaning, ThresholdsAreInclusiveWhereWritten) {
  EXPECT_EQ(_sentiment_direction_meaning(35, "warming"), "良性企稳/冰点回暖：恐慌出清后的右侧高胜率进场信号。");
  EXPECT_EQ(_sentiment_direction_meaning(35.01, "warming"), "动量升温/趋势延续：资金情绪边际改善。");
  EXPECT_EQ(_sentiment_direction_meaning(65, "warming"), "加速发烧/冲顶透支：属于危险脉冲，严禁据此追高。");
  EXPECT_EQ(_sentiment_direction_meaning(90, "cooling"), "资金情绪边际降温，需结合所在温区收紧仓位与止盈纪律。");
  EXPECT_EQ(_sentiment_direction_meaning(50, "flat"), "情绪平稳，重点遵循当前温区的战术总方针。");
  EXPECT_EQ(detail::SENTIMENT_STATE_LABEL("OVERHEAT"), "过热(≥85)");
}

}  // namespace
}  // namespace quorvel::agent::solvara
