// What a watchlist run prints: progress, the line per instrument, the closing table and the cost.
#include "quorvel/analysis/batch_report.h"

#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace quorvel::batch {
namespace {

Outcome analysed_row() {
  Outcome o{"sh.600519", "贵州茅台", "A", "2022-12-30", Status::analysed, "BUY", std::nullopt, "", 1.234, "2022-12-30", 0, false, {}};
  o.decision = nlohmann::ordered_json{{"direction", "看多"}, {"action", "建议买入"},   {"entry_price_low", 1790.0},
                                      {"entry_price_high", 1805.5}, {"stop_loss", 1750.0}, {"target_1", 1880.0},
                                      {"target_2", 0.0},         {"rrr", 1.6},           {"confidence", "中"}};
  return o;
}

std::vector<Outcome> sample_outcomes() {
  Outcome stored{"hk.00700", "腾讯控股", "HK", "2022-12-30", Status::stored, "WATCH", std::nullopt, "", 0.0, "2023-01-11", 8, false, {}};
  stored.decision = nlohmann::ordered_json{{"direction", "中性"}, {"action", "观望等待"}, {"entry_price_low", 0.0},
                                           {"entry_price_high", 0.0}, {"confidence", "低"}};
  return {analysed_row(),
          stored,
          {"us.AAPL", "苹果", "US", "2022-12-30", Status::failed, "", std::nullopt,
           "[LLM] openai_compatible 请求失败: HTTP 400 | 模型不存在，请检查 OPENAI_COMPATIBLE_MODEL 的取值", 0.5, "2022-12-30", 0, false, {}},
          {"xx.1234", "", std::nullopt, "", Status::failed, "", std::nullopt, "无法识别的证券代码", 0.0, "", 0, false, {}},
          {"510050", "上证50ETF", "ETF", "2022-12-30", Status::pending, "", std::nullopt, "", 0.0, "2022-12-30", 0, false, {}}};
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

TEST(BatchReport, ReviewAndExposureAreMarked) {
  // Buys of one account and day add up: A-shares and funds share one account, Hong Kong has its own.
  auto buy = [](const char* code, const char* market, const char* date, const char* pct, Status status) {
    Outcome o = analysed_row();
    o.code = code;
    o.market_type = market;
    o.date = o.requested = date;
    o.status = status;
    (*o.decision)["position_pct"] = pct;
    return o;
  };
  std::vector<Outcome> outcomes{buy("510050", "ETF", "2023-02-03", "30%", Status::analysed),
                                buy("sh.600519", "A", "2023-02-03", "45%", Status::stored),
                                buy("159949", "ETF", "2023-02-03", "30%", Status::analysed),
                                buy("hk.00700", "HK", "2023-02-03", "20%", Status::analysed),
                                buy("sh.600000", "A", "2023-02-06", "30%", Status::analysed),
                                buy("sh.601988", "A", "2023-02-03", "30%", Status::failed),
                                buy("sh.601398", "A", "2023-02-03", "一成", Status::analysed)};
  (*outcomes[3].decision)["action"] = "观望等待";  // a wait holds no position
  outcomes[1].date = "2023-01-20";                 // stale bars: the plan is still acted on 02-03
  const auto e = exposures(outcomes);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(exposure_line(e[0], DEFAULT_MAX_EXPOSURE_PCT),
            "仓位合计 A股/ETF 2023-02-03：105%，超过上限 100%，需复核：510050 30%、sh.600519 45%、159949 30%"
            "；仓位无法识别（需复核）：sh.601398");
  EXPECT_EQ(exposure_line(e[1], DEFAULT_MAX_EXPOSURE_PCT), "仓位合计 A股/ETF 2023-02-06：30%：sh.600000 30%");
  EXPECT_EQ(exposure_line(e[0], 120).find("超过"), std::string::npos);

  Outcome review = analysed_row();
  review.review_required = true;
  review.failed_checks = {"仓位上限（硬性）: position_pct 30 > 有效上限 0"};
  EXPECT_EQ(outcome_line(review, 1, 1),
            "[1/1] sh.600519 贵州茅台 → BUY | 建议买入 / 看多 | 需复核: 仓位上限（硬性）: position_pct 30 > 有效上限 0 | 1.23s");
  std::ostringstream table;
  print_table(table, {review});
  EXPECT_NE(table.str().find("新分析 需复核"), std::string::npos);
}

TEST(BatchReport, CsvAndJsonCarryEveryInstrumentAsMachineFields) {
  Closing closing{"2022-12-30", sample_outcomes(), DEFAULT_MAX_EXPOSURE_PCT, {3, 1, 0, 0, 0, 0, 0}, 2.5};
  closing.outcomes[0].name = "贵州茅台, \"A\"";
  closing.outcomes[0].review_required = true;
  closing.outcomes[0].failed_checks = {"止损（硬性）"};
  (*closing.outcomes[0].decision)["position_pct"] = "30%";
  closing.outcomes[1].name = "腾讯\xff";  // not UTF-8: replaced, never thrown on

  std::ostringstream csv, notes;
  print_closing(csv, notes, "csv", closing);
  std::istringstream lines(csv.str());
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 1 + closing.outcomes.size()) << csv.str();
  EXPECT_EQ(rows[0],
            "code,name,market,date,requested,sessions_behind,verdict,action,direction,entry_low,entry_high,stop_loss,"
            "target_1,target_2,rrr,confidence,position_pct,review_required,status,reason");
  EXPECT_EQ(rows[1], "sh.600519,\"贵州茅台, \"\"A\"\"\",A,2022-12-30,2022-12-30,0,BUY,建议买入,看多,1790.0,1805.5,"
                     "1750.0,1880.0,,1.6,中,30%,true,analysed,");
  EXPECT_EQ(rows[3], "us.AAPL,苹果,US,2022-12-30,2022-12-30,0,,,,,,,,,,,,false,failed,[LLM] openai_compatible 请求失败: "
                     "HTTP 400 | 模型不存在，请检查 OPENAI_COMPATIBLE_MODEL 的取值");
  EXPECT_NE(notes.str().find("共 5 只：新分析 1，已存储 1，失败 2，未完成 1\nLLM 调用 3 次（失败 1）"), std::string::npos);

  std::ostringstream json;
  print_closing(json, notes, "json", closing);
  const auto doc = nlohmann::ordered_json::parse(json.str());
  EXPECT_EQ(doc["date"], "2022-12-30");
  ASSERT_EQ(doc["results"].size(), closing.outcomes.size());
  const auto& first = doc["results"][0];
  EXPECT_EQ(first["name"], "贵州茅台, \"A\"");
  EXPECT_EQ(first["status"], "analysed");
  EXPECT_EQ(first["failed_checks"], nlohmann::ordered_json::array({"止损（硬性）"}));
  EXPECT_EQ(first["decision"]["entry_price_high"], 1805.5);
  EXPECT_EQ(doc["results"][1]["name"], "腾讯\uFFFD");
  EXPECT_EQ(doc["results"][1]["sessions_behind"], 8);
  EXPECT_TRUE(doc["results"][3]["market_type"].is_null());
  EXPECT_TRUE(doc["results"][3]["decision"].is_null());
  EXPECT_EQ(doc["results"][4]["status"], "pending");
  EXPECT_EQ(doc["exposures"][0]["positions"][0]["pct"], 30.0);
  EXPECT_EQ(doc["counts"]["unfinished"], 1);
  EXPECT_EQ(doc["usage"]["calls"], 3);
  EXPECT_TRUE(doc["usage"]["prompt_tokens"].is_null());  // no reply carried a count
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
