#include <cmath>
#include <sstream>
#include <thread>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/market_blocks.h"
#include "support/fake_market_data.h"
#include "support/test_support.h"
#include "contracts/dates.h"
#include "tarnel/local_market_data.h"

namespace quorvel {
namespace {

class Blocks : public ::testing::Test {
 protected:
  std::shared_ptr<tarnel::LocalMarketData> data_ = testing::bundled_market_data();
  Service<tarnel::MarketData>::Guard market{data_};
  TarnelMarketBlocks blocks;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Lines of the section of one index (the CSV header and rows after "#### name").
std::vector<std::string> section(const std::string& text, const std::string& name) {
  std::vector<std::string> out;
  bool inside = false;
  for (const auto& line : lines_of(text)) {
    if (line.rfind("#### ", 0) == 0 || line.rfind("> ", 0) == 0) {
      inside = line == "#### " + name;
      continue;
    }
    if (inside) out.push_back(line);
  }
  return out;
}

std::vector<std::string> names_of(const nlohmann::ordered_json& meta) {
  return meta.contains("indices") ? meta["indices"].get<std::vector<std::string>>() : std::vector<std::string>{};
}

struct MarketCase {
  const char* market;
  const char* date;
  std::vector<std::string> indices;
  std::vector<std::string> skipped;
  const char* last_date;
};

const std::vector<MarketCase>& market_cases() {
  static const std::vector<MarketCase> rows = {
      {"A", "2023-02-10", {"上证指数", "深证成指", "创业板指", "科创50", "沪深300", "中证500"}, {}, "2023-02-10"},
      {"etf", "2023-02-10", {"上证指数", "深证成指", "创业板指", "科创50", "沪深300", "中证500"}, {}, "2023-02-10"},
      {"HK", "2023-02-10", {"恒生指数"}, {"恒生科技指数"}, "2023-02-10"},
      {"US", "2023-02-10_1600", {"标普500", "纳斯达克", "道琼斯"}, {}, "2023-02-10"},
      {"A", "2023-02-12", {"上证指数", "深证成指", "创业板指", "科创50", "沪深300", "中证500"}, {}, "2023-02-10"},
      // Spring Festival: the last session, 2023-01-20, is eight days old and still counts.
      {"A", "2023-01-28", {"上证指数", "深证成指", "创业板指", "科创50", "沪深300", "中证500"}, {}, "2023-01-20"},
      // Three A-share index files end in February 2023: a year later they are left out, not shown stale.
      {"A", "2024-01-12", {"上证指数", "科创50", "沪深300"}, {"深证成指", "创业板指", "中证500"}, "2024-01-12"},
  };
  return rows;
}

TEST_F(Blocks, EnvironmentSnapshotOfEachMarket) {
  for (const auto& row : market_cases()) {
    SCOPED_TRACE(std::string(row.market) + " " + row.date);
    const auto [text, meta] = blocks.format_market_environment_block(row.market, row.date);
    ASSERT_FALSE(text.empty()) << meta.dump();
    EXPECT_FALSE(meta.contains("skip_reason"));
    EXPECT_EQ(names_of(meta), row.indices);
    EXPECT_EQ(meta["last_date"], row.last_date);
    EXPECT_EQ(meta["skipped"].size(), row.skipped.size());
    for (const auto& name : row.skipped) {
      EXPECT_TRUE(meta["skipped"].contains(name)) << name;
      EXPECT_NE(text.find("未纳入"), std::string::npos);
    }
    const auto lines = lines_of(text);
    EXPECT_EQ(lines[0], fmt::format("### 大盘快照（截至 {}）", row.last_date));
    std::size_t table_rows = 0;
    for (std::size_t i = 3; i < lines.size(); ++i) table_rows += lines[i].rfind("| ", 0) == 0;
    EXPECT_EQ(table_rows, row.indices.size());
  }
}

// The figures of the snapshot row, recomputed from the bundled CSV files.
TEST_F(Blocks, EnvironmentFiguresMatchTheBundledBars) {
  const struct {
    const char* market;
    const char* name;
    const char* file;
    const char* date;
  } rows[] = {{"A", "上证指数", "bars/a/sh.000001.csv", "2023-02-10"},
              {"A", "科创50", "bars/a/sh.000688.csv", "2024-01-12"},
              {"HK", "恒生指数", "bars/hk/HSI.csv", "2023-02-10"},
              {"US", "道琼斯", "bars/us/DJI.csv", "2023-02-10"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const tarnel::BarTable all = testing::bundled_bars(row.file);
    const tarnel::BarTable t = all.slice(all.index().front(), tarnel::parse_date(row.date));
    const auto& c = t.column("close");
    const std::size_t n = t.rows() - 1;
    const double amplitude = (t.at("high", n) - t.at("low", n)) / c[n - 1] * 100;
    const std::string want = fmt::format("| {} | {} | {:.2f} | {:+.2f}% | {:.2f}% |", row.name, row.date, c[n],
                                         (c[n] / c[n - 1] - 1) * 100, amplitude);
    const std::string tail = fmt::format(" | {:+.2f}% | {:+.2f}% |", (c[n] / c[n - 5] - 1) * 100,
                                         (c[n] / c[n - 20] - 1) * 100);
    const auto [text, meta] = blocks.format_market_environment_block(row.market, row.date);
    const auto at = text.find(want);
    ASSERT_NE(at, std::string::npos) << want << "\n" << text;
    const std::string line = text.substr(at, text.find('\n', at) - at);
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
  }
}

TEST_F(Blocks, NoRecentBarsGiveEmptyBlocksWithAReason) {
  const struct {
    const char* market;
    const char* date;
    const char* reason;
  } rows[] = {
      {"A", "2030-01-02", "前 10 天内没有任何指数日线"},
      {"US", "2014-06-03", "无数据"},
      {"HK", "2024-03-01", "最新 2023-11-07"},
      {"CN", "2023-02-10", "不支持的市场类型: CN"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.market) + " " + row.date);
    const TextBlock results[] = {blocks.format_market_environment_block(row.market, row.date),
                                 blocks.format_market_history_block(row.market, 60, row.date),
                                 blocks.format_market_indicator_block(row.market, 60, row.date)};
    for (const auto& [text, meta] : results) {
      EXPECT_TRUE(text.empty());
      ASSERT_TRUE(meta.contains("skip_reason")) << meta.dump();
      EXPECT_NE(meta["skip_reason"].get<std::string>().find(row.reason), std::string::npos) << meta.dump();
      EXPECT_FALSE(meta.contains("indices"));
    }
  }
}

TEST_F(Blocks, HistoryHoldsTheLastSixtySessionsPerIndex) {
  for (const auto& row : market_cases()) {
    SCOPED_TRACE(std::string(row.market) + " " + row.date);
    const auto [text, meta] = blocks.format_market_history_block(row.market, 60, row.date);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(names_of(meta), row.indices);
    EXPECT_EQ(meta["days"], 60);
    for (const auto& name : row.indices) {
      SCOPED_TRACE(name);
      const auto rows = section(text, name);
      ASSERT_EQ(rows.size(), 61u);  // header + 60 sessions
      EXPECT_EQ(rows[0].rfind("date,open,high,low,close,pct,vol", 0), 0u);
      EXPECT_EQ(rows.back().substr(0, 10), meta["last_dates"][name].get<std::string>());
      for (std::size_t i = 2; i < rows.size(); ++i) EXPECT_LT(rows[i - 1].substr(0, 10), rows[i].substr(0, 10));
      EXPECT_EQ(rows[1].find(",,"), std::string::npos) << "the first row has its change too";
    }
  }
  // Copied from data/bars/us/DJI.csv: prices to the cent, volume in 亿 shares, change against the day before.
  EXPECT_EQ(section(blocks.format_market_history_block("US", 5, "2023-02-10").first, "道琼斯"),
            (std::vector<std::string>{"date,open,high,low,close,pct,vol(亿)",
                                      "2023-02-06,33874.44,33962.84,33683.58,33891.02,-0.10,2.96",
                                      "2023-02-07,33769.78,34240.00,33634.10,34156.69,0.78,3.62",
                                      "2023-02-08,34132.90,34161.65,33899.79,33949.01,-0.61,3.24",
                                      "2023-02-09,34105.61,34252.57,33607.13,33699.88,-0.73,3.48",
                                      "2023-02-10,33671.54,33897.31,33591.99,33869.27,0.50,2.88"}));
}

TEST_F(Blocks, IndicatorsAreComputedOnTheWholeHistory) {
  const auto [text, meta] = blocks.format_market_indicator_block("A", 60, "2023-02-10");
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(meta["indicator_days"], 60);
  // Recompute 上证指数 on all its bars up to the date: the printed tail must match to the cent.
  const tarnel::BarTable all = testing::bundled_bars("bars/a/sh.000001.csv");
  tarnel::BarTable t = all.slice(all.index().front(), tarnel::parse_date("2023-02-10"));
  data_->set_ema(t);
  data_->set_macd(t);
  data_->set_rsi(t, 14);
  data_->set_boll(t);
  data_->set_volume(t);
  const auto rows = section(text, "上证指数");
  ASSERT_EQ(rows.size(), 61u);
  EXPECT_EQ(rows[0], "date,close,ema5,ema20,ema60,dif,dea,macd,rsi14,boll_up,boll_mid,boll_low,vol_ratio,atr14");
  const std::size_t n = t.rows() - 1;
  EXPECT_EQ(rows.back(),
            fmt::format("2023-02-10,{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},{:.2f},"
                        "{:.2f}",
                        t.at("close", n), t.at("EMA_5", n), t.at("EMA_20", n), t.at("EMA_60", n), t.at("MACD", n),
                        t.at("MACD_signal", n), t.at("MACD_hist", n), t.at("RSI", n), t.at("upper_band", n),
                        t.at("middle_band", n), t.at("lower_band", n), t.at("Volume_Ratio", n), t.at("ATR", n)));
  // Every index has enough history: no indicator cell is empty in the 60 rows shown.
  for (const auto& name : names_of(meta)) {
    SCOPED_TRACE(name);
    for (const auto& line : section(text, name)) EXPECT_EQ(line.find(",,"), std::string::npos) << line;
  }
}

TEST_F(Blocks, BadArgumentsAreValueErrors) {
  EXPECT_THROW(blocks.format_market_history_block("A", 0, "2023-02-10"), ValueError);
  EXPECT_THROW(blocks.format_market_indicator_block("A", 10000, "2023-02-10"), ValueError);
  EXPECT_THROW(blocks.format_market_environment_block("A", "2023-02-30"), ValueError);
  EXPECT_THROW(blocks.format_market_environment_block("A", "10/02/2023"), ValueError);
}

// An index whose read fails is named in the metadata; the others still make the block.
class FailingIndex : public tarnel::ForwardingMarketData {
 public:
  using ForwardingMarketData::ForwardingMarketData;
  tarnel::BarTable get_index_ohlc(const tarnel::MarketIndex& index, const std::string& end_date) override {
    if (index.code == "sh.000688") throw RuntimeError("store locked");
    return ForwardingMarketData::get_index_ohlc(index, end_date);
  }
};

TEST_F(Blocks, OneFailingIndexIsSkippedAndNamed) {
  Service<tarnel::MarketData>::Guard failing(std::make_shared<FailingIndex>(data_));
  testing::LogCapture log;
  const auto [text, meta] = blocks.format_market_environment_block("A", "2023-02-10");
  EXPECT_EQ(names_of(meta).size(), 5u);
  EXPECT_EQ(meta["skipped"]["科创50"], "读取失败: store locked");
  EXPECT_NE(text.find("科创50（读取失败: store locked）"), std::string::npos);
  EXPECT_TRUE(log.contains("[大盘数据] 读取 科创50 日线失败: store locked"));
}

TEST_F(Blocks, TheThreeBuildersRunTogether) {
  const TextBlock env = blocks.format_market_environment_block("A", "2023-02-10");
  const TextBlock hist = blocks.format_market_history_block("A", 60, "2023-02-10");
  const TextBlock ind = blocks.format_market_indicator_block("A", 60, "2023-02-10");
  Service<MarketBlocks>::Guard restore(nullptr);
  install_market_blocks();
  for (int round = 0; round < 3; ++round) {
    TextBlock got[3];
    std::thread a([&] { got[0] = market_blocks().format_market_environment_block("A", "2023-02-10"); });
    std::thread b([&] { got[1] = market_blocks().format_market_history_block("A", 60, "2023-02-10"); });
    std::thread c([&] { got[2] = market_blocks().format_market_indicator_block("A", 60, "2023-02-10"); });
    a.join(), b.join(), c.join();
    EXPECT_EQ(got[0], env);
    EXPECT_EQ(got[1], hist);
    EXPECT_EQ(got[2], ind);
  }
}

}  // namespace
}  // namespace quorvel
