// What a watchlist run prints: progress, the line per instrument, the closing table and the cost.
#include "quorvel/batch_report.h"

#include <sstream>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace quorvel::batch {
namespace {

Outcome analysed_row() {
  Outcome o{"sh.600519", "贵州茅台", "A", "2022-12-30", Status::analysed, "BUY", std::nullopt, "", 1.234, "2022-12-30", 0};
  o.decision = nlohmann::ordered_json{{"direction", "看多"}, {"action", "建议买入"},   {"entry_price_low", 1790.0},
                                      {"entry_price_high", 1805.5}, {"stop_loss", 1750.0}, {"target_1", 1880.0},
                                      {"target_2", 0.0},         {"rrr", 1.6},           {"confidence", "中"}};
  return o;
}

std::vector<Outcome> sample_outcomes() {
  Outcome stored{"hk.00700", "腾讯控股", "HK", "2022-12-30", Status::stored, "WATCH", std::nullopt, "", 0.0, "2023-01-11", 8};
  stored.decision = nlohmann::ordered_json{{"direction", "中性"}, {"action", "观望等待"}, {"entry_price_low", 0.0},
                                           {"entry_price_high", 0.0}, {"confidence", "低"}};
  return {analysed_row(),
          stored,
          {"us.AAPL", "苹果", "US", "2022-12-30", Status::failed, "", std::nullopt,
           "[LLM] openai_compatible 请求失败: HTTP 400 | 模型不存在，请检查 OPENAI_COMPATIBLE_MODEL 的取值", 0.5, "2022-12-30", 0},
          {"xx.1234", "", std::nullopt, "", Status::failed, "", std::nullopt, "无法识别的证券代码", 0.0, "", 0},
          {"510050", "上证50ETF", "ETF", "2022-12-30", Status::pending, "", std::nullopt, "", 0.0, "2022-12-30", 0}};
}

TEST(BatchReport, TableShowsDecisionsAndReasonsInWatchlistOrder) {
  std::ostringstream out;
  print_table(out, sample_outcomes());
  EXPECT_EQ(out.str(), testing::read_file(testing::test_data_dir() / "batch" / "table.txt"));
  const Counts c = count_outcomes(sample_outcomes());
  EXPECT_EQ(count_line(c), "共 5 只：新分析 1，已存储 1，失败 2，未完成 1");
  EXPECT_EQ(c.worked, 2u);  // the two that took time in this run
}

TEST(BatchReport, ProgressEstimatesTheRestFromThePaceOfThisRun) {
  const struct {
    Counts counts;
    double elapsed;
    const char* expected;
  } rows[] = {
      {{10, 0, 0, 0, 0, 0, 0}, 1.5, "分析 0/10 | 失败 0 | 用时 1.5s | 预计剩余 --"},
      {{10, 4, 1, 2, 1, 0, 2}, 10.0, "分析 4/10 | 失败 1 | 用时 10.0s | 预计剩余 30.0s"},
      {{100, 100, 100, 0, 0, 0, 100}, 125.0, "分析 100/100 | 失败 0 | 用时 125s | 预计剩余 0s"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(progress_line(row.counts, row.elapsed), row.expected);
  }
}

TEST(BatchReport, OneLinePerInstrument) {
  const auto outcomes = sample_outcomes();
  const struct {
    std::size_t index;
    const char* expected;
  } rows[] = {
      {0, "[1/5] sh.600519 贵州茅台 → BUY | 建议买入 / 看多 | 1.23s"},
      {1, "[2/5] hk.00700 腾讯控股 → WATCH | 观望等待 / 中性 | 已存储，跳过 (--force 重新分析)"},
      {3, "[4/5] xx.1234 失败: 无法识别的证券代码"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(outcome_line(outcomes[row.index], row.index + 1, outcomes.size()), row.expected);
  }
}

TEST(BatchReport, CostLineSaysNaForCountsNoReplyCarried) {
  const struct {
    agent::core::UsageTotals usage;
    const char* expected;
  } rows[] = {
      {{12, 0, 0, 0, 0, 0, 0}, "LLM 调用 12 次（失败 0）| 输入 tokens n/a（缓存命中 n/a）| 输出 tokens n/a | 用时 2.50 秒"},
      {{9, 1, 52000, 9000, 41000, 9, 9},
       "LLM 调用 9 次（失败 1）| 输入 tokens 52000（缓存命中 41000）| 输出 tokens 9000 | 用时 2.50 秒"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.expected);
    EXPECT_EQ(cost_line(row.usage, 2.5), row.expected);
  }
}

}  // namespace
}  // namespace quorvel::batch
