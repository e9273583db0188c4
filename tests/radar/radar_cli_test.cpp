// quorvel-radar end to end on the bundled ETF universe in a fresh store.
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace quorvel {
namespace {

using testing::ProgramRun;
using testing::ScopedEnv;
using testing::TempDir;
using Json = nlohmann::ordered_json;

class RadarCommand : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedEnv center{"TARNEL_CENTER", dir.path().string()};
  // Runs the command in the test's directory, so relative file names point into it.
  ProgramRun radar(const std::string& args) {
    return testing::run_program("cd '" + dir.path().string() + "' && " + RADAR_BIN, args, dir.path());
  }
};

// Codes of a section, in its order.
std::vector<std::string> codes_of(const Json& doc, const char* section) {
  std::vector<std::string> codes;
  for (const auto& r : doc[section]) codes.push_back(r["code"]);
  return codes;
}

TEST_F(RadarCommand, EtfUniverseWeeklyOnAFridayDailyOnATuesday) {
  using Codes = std::vector<std::string>;
  struct Row {
    const char* date;
    const char* frequency;
    const char* summary;
    Codes anomaly, opportunity, risk;
  };
  // clang-format off
  const Row rows[] = {
      {"2023-02-10", "weekly", "雷达完成 2023-02-10 (周线): 共 16 只，已评估 16，量化异动 2，潜在机会 4，风险提示 3，",
       {"159819", "515880"}, {"510050", "510300", "159949", "159995"}, {"512880", "512660", "515030"}},
      {"2023-01-03", "daily", "雷达完成 2023-01-03 (日线): 共 16 只，已评估 16，量化异动 3，潜在机会 4，风险提示 1，",
       {"512660", "515880", "159819"}, {"513050", "510050", "512690", "588000"}, {"159928"}},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.date);
    const ProgramRun run = radar(std::string("-t ") + row.date + " --format json");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find(row.summary), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("数据不足 1，数据滞后 0，失败 0"), std::string::npos) << run.err;  // 159509 starts in August 2023
    const Json doc = Json::parse(run.out);
    EXPECT_EQ(doc["date"], row.date);
    EXPECT_EQ(doc["frequency"], row.frequency);
    EXPECT_EQ(codes_of(doc, "量化异动"), row.anomaly);
    EXPECT_EQ(codes_of(doc, "潜在机会"), row.opportunity);
    EXPECT_EQ(codes_of(doc, "风险提示"), row.risk);
  }
  // Bars that end long before the day (the bundle stops in 2024) are never judged as that day's moves.
  const ProgramRun stale = radar("-t 2025-06-04 --format json");
  EXPECT_NE(stale.err.find("已评估 0，量化异动 0，潜在机会 0，风险提示 0，数据不足 0，数据滞后 16"), std::string::npos)
      << stale.err;
  // Hand-checked: the week to 2023-02-10 closed at 0.796 against 0.781 on 2.33x the volume of the
  // five weeks before, turnover 490,774,548.
  const Json doc = Json::parse(radar("-t 2023-02-10 --format json").out);
  const Json& ai = doc["量化异动"][0];
  EXPECT_EQ(ai["name"], "人工智能ETF");
  EXPECT_EQ(ai["state"], "趋势上涨");
  EXPECT_DOUBLE_EQ(ai["vol_ratio"].get<double>(), 2.33);
  EXPECT_DOUBLE_EQ(ai["change_pct"].get<double>(), 1.92);
  EXPECT_DOUBLE_EQ(ai["amount"].get<double>(), 490774548.0);
  EXPECT_DOUBLE_EQ(ai["close"].get<double>(), 0.796);
  EXPECT_NE(ai["reason"].get<std::string>().find("放量 2.33x, 涨跌幅 +1.92%"), std::string::npos);
}

TEST_F(RadarCommand, TablesAndOneBadInstrumentReportedAndSkipped) {
  testing::write_file(dir / "pool.txt", "# watchlist\n159995\n\nnot-a-code\n510050, 上证50ETF\n");
  const ProgramRun csv = radar("--pool pool.txt --frequency daily -t 2023-02-09 --format csv");
  EXPECT_EQ(csv.status, 0) << csv.err;
  EXPECT_NE(csv.err.find("quorvel-radar: not-a-code 评估失败"), std::string::npos) << csv.err;
  EXPECT_NE(csv.err.find("共 3 只，已评估 2，量化异动 1"), std::string::npos) << csv.err;
  EXPECT_EQ(csv.out.substr(0, csv.out.find('\n')),
            "section,code,name,as_of,state,prev_state,strategy_type,signal,score,vol_ratio,change_pct,amount,close,reason");
  EXPECT_NE(csv.out.find("\n量化异动,159995,芯片ETF,2023-02-09,趋势上涨,趋势上涨,趋势跟随,,95.5,1.59,4.13,832442624,1.109,"),
            std::string::npos)
      << csv.out;

  const ProgramRun table = radar("-t 2023-02-10");
  EXPECT_EQ(table.status, 0) << table.err;
  for (const char* head : {"【量化异动】", "【潜在机会】", "【风险提示】", "代码", "量比", "理由", "159819"})
    EXPECT_NE(table.out.find(head), std::string::npos) << head << "\n" << table.out;

  // Names of a universe file reach the table without their terminal controls.
  testing::write_file(dir / "hostile.yaml", "etfs:\n  - {code: \"510050\", name: \"上证\\e]0;t\\a50\\x9b2JETF\\e[5m\"}\n");
  const ProgramRun named = radar("--universe hostile.yaml -t 2023-02-10");
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_NE(named.out.find("510050  上证50ETF "), std::string::npos) << named.out;
  for (const char* control : {"\x1b", "\x07", "\xc2\x9b"}) EXPECT_EQ(named.out.find(control), std::string::npos);
}

// A watchlist is dated on its own market's calendar: a New York session in the Chinese New Year
// holiday stays that day; Good Friday, when Hong Kong is closed and Shanghai trades, moves back.
TEST_F(RadarCommand, WatchlistIsDatedOnItsOwnMarketsCalendar) {
  const struct {
    const char* code;
    const char* day;
    const char* as_of;
  } rows[] = {{"us.AAPL", "2022-02-01", "2022-02-01"}, {"hk.00700", "2022-04-15", "2022-04-14"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.code);
    testing::write_file(dir / "watch.txt", std::string(row.code) + "\n");
    const ProgramRun run = radar(std::string("--pool watch.txt --frequency daily --format json -t ") + row.day);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Json::parse(run.out)["date"], row.as_of);
  }
}

TEST_F(RadarCommand, UsageErrorsAndNothingToScan) {
  struct Row {
    const char* args;
    int status;
    const char* message;
  };
  const Row rows[] = {
      {"--market XX", 2, "XX"},
      {"--market A --pool p.txt", 2, "excludes"},
      {"-t 2023-13-01", 2, "日期格式错误: 2023-13-01"},
      {"-t 2999-01-01", 2, "未来日期"},
      {"--frequency monthly -t 2023-02-10", 2, "monthly"},
      {"--universe missing.yaml -t 2023-02-10", 2, "missing.yaml"},
      {"-t 2023-02-10 --start 2023-03-01", 2, "--start 2023-03-01 晚于扫描日期 2023-02-10"},
      {"--min-vol-ratio -1", 2, "--min-vol-ratio: 取值应为不小于 0 的数，实际为 -1"},
      {"--pool missing.txt -t 2023-02-10", 2, "无法读取股票池文件"},
      {"--pool empty.txt -t 2023-02-10", 1, "没有可扫描的标的"},
      {"--pool bad.txt -t 2023-02-10", 1, "评估失败"},
  };
  testing::write_file(dir / "empty.txt", "# nothing\n");
  testing::write_file(dir / "bad.txt", "zz.1\n");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    const ProgramRun run = radar(row.args);
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace quorvel
