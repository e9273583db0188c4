// Recorded provider replies: outcome, units on arrival (volume in shares, amount in the quote
// currency) and names.
#include <cmath>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "contracts/dates.h"
#include "tarnel/online/eastmoney_provider.h"
#include "tarnel/online/tencent_provider.h"

namespace tarnel::online {
namespace {

using Outcome = SeriesReply::Outcome;

std::string recorded(const std::string& name) {
  return quorvel::testing::read_file(quorvel::testing::test_data_dir() / "tarnel_online" / name);
}

TEST(ProviderReply, RecordedRepliesParse) {
  struct Row {
    const char* file;
    bool tencent;
    const char* code;
    const char* symbol;
    Outcome outcome;
    std::size_t rows;
    double close0, volume0, amount0;  // of the first row; NaN amount when none
    const char* name;
  };
  const double none = std::nan("");
  const std::vector<Row> rows{
      {"eastmoney_sh600000.json", false, "sh.600000", "1.600000", Outcome::bars, 3, 10.60, 52345600, 553889310.0, "浦发银行"},
      {"eastmoney_hk00700.json", false, "hk.00700", "116.00700", Outcome::bars, 2, 618.5, 15234567, 9391234567.0, "腾讯控股"},
      {"eastmoney_empty.json", false, "sh.600000", "1.600000", Outcome::empty, 0, 0, 0, 0, "浦发银行"},
      {"eastmoney_unknown.json", false, "sh.600000", "1.600000", Outcome::unknown, 0, 0, 0, 0, ""},
      {"eastmoney_malformed.json", false, "sh.600000", "1.600000", Outcome::failed, 0, 0, 0, 0, "浦发银行"},
      {"eastmoney_truncated.json", false, "sh.600000", "1.600000", Outcome::failed, 0, 0, 0, 0, ""},
      {"tencent_sh600000.json", true, "sh.600000", "sh600000", Outcome::bars, 3, 10.60, 52345600, 553889310.0, "浦发银行"},
      {"tencent_sh688981.json", true, "sh.688981", "sh688981", Outcome::bars, 1, 89.35, 31234567, 2789123460.0, "中芯国际"},
      {"tencent_sh000001.json", true, "sh.000001", "sh000001", Outcome::bars, 2, 3412.56, 41234567800, none, "上证指数"},
      {"tencent_raw_only.json", true, "hk.00700", "hk00700", Outcome::failed, 0, 0, 0, 0, "腾讯控股"},
      {"tencent_unknown.json", true, "sh.600000", "sh600000", Outcome::unknown, 0, 0, 0, 0, ""},
      {"tencent_bad_row.json", true, "sh.600000", "sh600000", Outcome::failed, 0, 0, 0, 0, ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.file);
    SeriesRequest req{parse_instrument_code(r.code), InstrumentKind::stock, parse_date("2026-11-01"),
                      parse_date("2026-12-31"), Adjustment::forward, ""};
    req.kind = kind_of(req.code);
    const std::string body = recorded(r.file);
    const SeriesReply reply = r.tencent ? parse_tencent_reply(body, r.symbol, req) : parse_eastmoney_reply(body, r.symbol);
    EXPECT_EQ(reply.outcome, r.outcome) << reply.detail;
    EXPECT_EQ(reply.name, r.name);
    ASSERT_EQ(reply.rows.size(), r.rows);
    if (reply.rows.empty()) continue;
    const BarRow& first = reply.rows.front();
    EXPECT_DOUBLE_EQ(first.close, r.close0);
    EXPECT_NEAR(first.volume, r.volume0, 1e-6);
    if (std::isnan(r.amount0))
      EXPECT_TRUE(std::isnan(first.amount));
    else
      EXPECT_NEAR(first.amount, r.amount0, 1e-3);
    std::vector<BarRow> kept = reply.rows;
    EXPECT_EQ(clean_rows(kept, req.first, req.last), "");
  }
}

TEST(ProviderReply, InvalidBarsMakeTheWholeAnswerUnusable) {
  const Date first = parse_date("2026-12-01"), last = parse_date("2026-12-31");
  struct Row {
    const char* name;
    std::vector<BarRow> rows;
    bool usable;
    std::size_t kept;
  };
  const auto bar = [](const char* day, double low, double high) {
    return BarRow{parse_date(day), low, high, low, high, 100, 1000};
  };
  const std::vector<Row> rows{
      {"valid, one outside the range dropped", {bar("2026-12-02", 1, 2), bar("2026-11-30", 1, 2)}, true, 1},
      {"high below low", {bar("2026-12-02", 2, 1)}, false, 0},
      {"zero price", {bar("2026-12-02", 0, 1)}, false, 0},
      {"repeated date", {bar("2026-12-02", 1, 2), bar("2026-12-02", 1, 2)}, false, 0},
  };
  for (auto r : rows) {
    SCOPED_TRACE(r.name);
    const std::string why = clean_rows(r.rows, first, last);
    EXPECT_EQ(why.empty(), r.usable) << why;
    if (r.usable) {
      EXPECT_EQ(r.rows.size(), r.kept);
    }
  }
}

TEST(ProviderReply, VolumeUnitIsCheckedAgainstTheAmounts) {
  const double none = std::nan("");
  // Four days at a close of 10 with 1000 units of volume and the given amounts.
  const auto series = [](std::vector<double> amounts) {
    std::vector<BarRow> rows;
    for (std::size_t i = 0; i < amounts.size(); ++i)
      rows.push_back({parse_date("2026-12-01") + date::days{int(i)}, 10, 10.2, 9.8, 10, 1000, amounts[i]});
    return rows;
  };
  struct Row {
    const char* name;
    InstrumentKind kind;
    bool prices_as_traded;
    std::vector<double> amounts;
    bool verified;
    double scale;
  };
  const std::vector<Row> rows{
      {"shares as assumed", InstrumentKind::stock, true, {10100, 9900, 10000, 10200}, true, 1},
      {"lots taken for shares", InstrumentKind::etf, true, {1e6, 1e6, 1e6, 1e6}, true, 100},
      {"shares taken for lots", InstrumentKind::stock, true, {99, 101, 100, 100}, true, 0.01},
      {"units change inside the rows", InstrumentKind::stock, true, {1e6, 1e6, 1e4, 1e4}, false, 1},
      {"neither unit fits", InstrumentKind::stock, true, {1e8, 1e8, 1e8, 1e8}, false, 1},
      {"no amount", InstrumentKind::stock, true, {none, none, none, none}, false, 1},
      {"index in points", InstrumentKind::index, true, {1e6, 1e6, 1e6, 1e6}, false, 1},
      {"adjusted prices, not those traded", InstrumentKind::stock, false, {1e6, 1e6, 1e6, 1e6}, false, 1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const VolumeUnitCheck check = check_volume_unit(series(r.amounts), r.kind, r.prices_as_traded);
    EXPECT_EQ(check.verified, r.verified);
    EXPECT_DOUBLE_EQ(check.scale, r.scale);
  }
}

}  // namespace
}  // namespace tarnel::online
