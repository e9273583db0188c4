#include <charconv>
#include <cmath>
#include <fstream>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "quorvel/utils/environment.h"
#include "support/test_support.h"
#include "tarnel/csv_bars.h"
#include "tarnel/data_import.h"
#include "contracts/dates.h"
#include "tarnel/local_market_data.h"

namespace tarnel {
namespace {

using quorvel::testing::TempDir;
using quorvel::testing::write_file;

const char* HEADER = "date,open,high,low,close,volume,amount\n";

TEST(CsvBars, BadRowsAreReportedWithFileAndLineAndSkipped) {
  const std::string text = std::string("\xEF\xBB\xBF") + HEADER +
                           "2023-02-08,7.24,7.27,7.22,7.23,13095025,94770356.76\r\n"
                           "2023-02-09,7.23,7.28,7.22\n"                           // 3: missing fields
                           "2023-02-10,7.25,abc,7.22,7.24,11944106,1\n"            // 4: not a number
                           "2023-02-13,7.25,7.20,7.22,7.24,100,1\n"                // 5: high < low
                           "2023-02-14,-7.25,7.27,7.22,7.24,100,1\n"               // 6: negative price
                           "2023-02-08,7.24,7.27,7.22,7.23,1,1\n"                  // 7: duplicate date
                           "2023-02-30,7.24,7.27,7.22,7.23,1,1\n"                  // 8: impossible date
                           "2023-02-15,7.24,7.27,7.22,nan,1,1\n"                   // 9: not finite
                           "2023-02-16,7.24,7.27,7.22,7.23,-5,1\n"                 // 10: negative volume
                           "\n"
                           "2023-02-07,7.27,7.27,7.22,7.24,15481821,\n"            // 12: fine, no amount
                           "2023-02-17,7.20,7.27,7.22,7.24,1,1\n"                  // 13: open under low
                           "2023-02-20,7.24,7.27,7.22,7.28,1,1\n"                  // 14: close over high
                           "0000-02-20,7.24,7.27,7.22,7.25,1,1\n"                  // 15: year 0
                           "9999-02-20,7.24,7.27,7.22,7.25,1,1\n";                 // 16: year 9999
  const CsvBars bars = parse_bar_csv(text, "x.csv");
  ASSERT_EQ(bars.rows.size(), 2u);
  EXPECT_EQ(date_text(bars.rows[0].date), "2023-02-07");  // sorted
  EXPECT_TRUE(std::isnan(bars.rows[0].amount));
  ASSERT_EQ(bars.rejected.size(), 12u);
  const char* lines[] = {"x.csv:3:",  "x.csv:4:",  "x.csv:5:",  "x.csv:6:",  "x.csv:7:",  "x.csv:8:",
                         "x.csv:9:",  "x.csv:10:", "x.csv:13:", "x.csv:14:", "x.csv:15:", "x.csv:16:"};
  for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(bars.rejected[i].rfind(lines[i], 0), 0u) << bars.rejected[i];
  EXPECT_NE(bars.rejected[8].find("open (7.2) 不在 [low, high]"), std::string::npos) << bars.rejected[8];
  EXPECT_NE(bars.rejected[9].find("close (7.28) 不在 [low, high]"), std::string::npos) << bars.rejected[9];
  EXPECT_NE(bars.rejected[10].find("1800-2100"), std::string::npos) << bars.rejected[10];
  EXPECT_THROW(read_bar_csv(quorvel::get_project_root() / "data"), quorvel::RuntimeError);
  try {
    read_bar_csv(quorvel::get_project_root() / "data");
  } catch (const quorvel::RuntimeError& e) {
    EXPECT_NE(std::string(e.what()).find("是目录而不是 CSV 文件"), std::string::npos) << e.what();
  }
  EXPECT_NE(bars.rejected[4].find("日期重复"), std::string::npos);
  EXPECT_THROW(parse_bar_csv("date,close\n2023-01-01,1\n", "y.csv"), quorvel::RuntimeError);
  EXPECT_THROW(parse_bar_csv("", "y.csv"), quorvel::RuntimeError);
}

TEST(BarImport, RealCsvRoundTripsValueForValue) {
  TempDir dir;
  const auto csv = quorvel::get_project_root() / "data" / "bars" / "hk" / "00700.csv";
  BarStore store(dir / "s.sqlite");
  const ImportReport r = import_bar_file(store, "hk.700", csv);
  EXPECT_EQ(r.rows_rejected, 0u);
  EXPECT_EQ(r.rows_loaded, 2172u);

  LocalMarketData service(dir / "s.sqlite", dir / "no-bundled-data-needed");
  const BarTable t = service.get_any_ohlc("hk.00700", "2015-01-01", "2023-12-31");
  ASSERT_EQ(t.rows(), 2172u);
  std::ifstream in(csv);
  std::string line;
  std::getline(in, line);
  for (std::size_t row = 0; std::getline(in, line); ++row) {
    const auto f = split_csv_line(line);
    ASSERT_EQ(t.date_at(row), f[0]);
    const char* cols[] = {"open", "high", "low", "close", "volume"};
    for (int c = 0; c < 5; ++c) {
      double expected = 0;
      std::from_chars(f[std::size_t(c) + 1].data(), f[std::size_t(c) + 1].data() + f[std::size_t(c) + 1].size(), expected);
      // Prices are rounded to the instrument's decimals (at most 4), which drops the source's
      // single-precision noise.
      if (c < 4)
        ASSERT_NEAR(t.column(cols[c])[row], expected, 5e-5) << f[0] << " " << cols[c];
      else
        ASSERT_EQ(t.column(cols[c])[row], expected) << f[0] << " " << cols[c];
    }
    ASSERT_TRUE(std::isnan(t.column("amount")[row]));
  }
  EXPECT_EQ(service.get_any_ohlc("hk.00700", "2023-11-01", "2023-11-03").rows(), 3u);
  EXPECT_TRUE(service.get_any_ohlc("hk.00700", "2023-11-05", "2023-11-01").empty());
  EXPECT_TRUE(service.get_any_ohlc("hk.00005", "2015-01-01", "2023-12-31").empty());  // unknown but well formed
  EXPECT_THROW(service.get_any_ohlc("hk.0070x", "2015-01-01", "2023-12-31"), quorvel::ValueError);
  EXPECT_THROW(service.get_any_ohlc("hk.00700", "2015-01-01", "2023-12-32"), quorvel::ValueError);
}

TEST(BarImport, AFileWithABadHeaderWritesNothingAndReimportIsIdempotent) {
  TempDir dir;
  BarStore store(dir / "s.sqlite");
  write_file(dir / "bad.csv", "date;open\n2023-01-03;1\n");
  EXPECT_THROW(import_bar_file(store, "sh.600000", dir / "bad.csv"), quorvel::RuntimeError);
  EXPECT_EQ(store.instrument_count(), 0u);  // the instrument row was rolled back too
  write_file(dir / "ok.csv", std::string(HEADER) + "2023-01-03,1,2,0.5,1.5,100,150\n2023-01-04,1,2,0.5,1.6,100,160\n");
  import_bar_file(store, "sh.600000", dir / "ok.csv");
  write_file(dir / "ok.csv", std::string(HEADER) + "2023-01-04,1,2,0.5,1.7,100,170\n");
  import_bar_file(store, "sh.600000", dir / "ok.csv");
  const BarTable t = store.load("sh.600000", parse_date("2023-01-01"), parse_date("2023-01-31"));
  ASSERT_EQ(t.rows(), 2u);
  EXPECT_EQ(t.column("close")[1], 1.7);
  EXPECT_THROW(import_bar_file(store, "sh.600000", dir / "missing.csv"), quorvel::RuntimeError);
}

TEST(BundledData, EmptyStoreLoadsOnceAndResolvesNamesAndFundCodes) {
  TempDir dir;
  LocalMarketData service(dir / "s.sqlite", quorvel::get_project_root() / "data");
  EXPECT_EQ(service.get_name_from_code("sh.600000"), "浦发银行");
  EXPECT_EQ(service.get_name_from_code("etf.510050"), "上证50ETF");
  EXPECT_EQ(service.get_name_from_code("sh.510050"), "上证50ETF");
  EXPECT_EQ(service.get_name_from_code("hk.00700"), "腾讯控股");
  EXPECT_EQ(service.get_name_from_code("sz.000002"), "");
  EXPECT_EQ(service.get_any_ohlc("sh.510050", "2023-02-06", "2023-02-10").rows(), 5u);
  const BarTable idx = service.get_index_ohlc(indices::CSI500, "2023-02-10");
  EXPECT_EQ(idx.last_date(), "2023-02-10");
  EXPECT_EQ(idx.index().front(), parse_date("2017-01-03"));
  // Series kept in memory read exactly as from the store, split adjustment on the slice included;
  // a read past the kept day goes to the store.
  LocalMarketData memory(dir / "s.sqlite", quorvel::get_project_root() / "data");
  memory.keep_series_in_memory(parse_date("2023-06-30"));
  for (const char* code : {"sh.600519", "sh.600000", "sz.300750", "510050", "hk.00700", "us.AAPL"})
    for (const auto& [from, to] : {std::pair{"2015-01-01", "2019-06-03"}, std::pair{"2021-03-01", "2023-02-10"},
                                   std::pair{"2022-01-01", "2024-08-20"}}) {
      SCOPED_TRACE(std::string(code) + " " + from + " " + to);
      const BarTable stored = service.get_any_ohlc(code, from, to), kept = memory.get_any_ohlc(code, from, to);
      EXPECT_EQ(kept.index(), stored.index());
      ASSERT_EQ(kept.column_names(), stored.column_names());
      for (const auto& name : stored.column_names())  // NaN (no amount) counts as equal to NaN
        for (std::size_t i = 0; i < stored.rows(); ++i)
          ASSERT_TRUE(kept.at(name, i) == stored.at(name, i) || (std::isnan(kept.at(name, i)) && std::isnan(stored.at(name, i))))
              << name << " row " << i;
      EXPECT_EQ(kept.adjustments().size(), stored.adjustments().size());
    }
  EXPECT_EQ(memory.get_index_ohlc(indices::CSI500, "2023-02-10"), idx);
  // A second open of the filled store does not load again.
  BarStore store(dir / "s.sqlite");
  const auto count = store.instrument_count();
  EXPECT_EQ(load_missing_bundled(store, quorvel::get_project_root() / "data"), 0u);
  EXPECT_EQ(store.instrument_count(), count);
}

TEST(BundledData, AnImportIntoANewStoreDoesNotKeepTheBundleOutAndARemovalSticks) {
  TempDir dir;
  const auto data = quorvel::get_project_root() / "data";
  {
    BarStore store(dir / "s.sqlite");
    write_file(dir / "x.csv", "date,open,high,low,close,volume,amount\n2023-02-10,1,2,1,2,100,200\n");
    import_bar_file(store, "sz.000002", dir / "x.csv");
  }
  LocalMarketData service(dir / "s.sqlite", data);
  EXPECT_EQ(service.get_name_from_code("sh.600000"), "浦发银行");
  EXPECT_EQ(service.get_any_ohlc("sz.000002", "2023-02-10", "2023-02-10").rows(), 1u);
  BarStore store(dir / "s.sqlite");
  store.db().exec("DELETE FROM bars WHERE code = 'sh.600000'; DELETE FROM instruments WHERE code = 'sh.600000';");
  EXPECT_EQ(load_missing_bundled(store, data), 0u);
  EXPECT_FALSE(store.instrument("sh.600000").has_value());
}

TEST(InstrumentCsv, LotColumnIsOptionalByHeaderAndMustBeAPositiveInteger) {
  TempDir dir;
  const struct {
    const char* text;
    std::optional<int> lot;
    const char* file;
    const char* fault;  // the rejection of line 2, or "" when the row is accepted
  } rows[] = {
      {"code,name,market,kind,file\nhk.700,腾讯控股,HK,stock,x.csv\n", std::nullopt, "x.csv", ""},
      {"code,name,market,kind,file,lot\nhk.700,腾讯控股,HK,stock,, 100\n", 100, "", ""},
      {"code,name,market,kind,file,lot\nhk.700,腾讯控股,HK,stock,x.csv\n", std::nullopt, "x.csv", ""},
      {"code,lot,name,market,kind\nhk.700,500,腾讯控股,HK,stock\n", 500, "", ""},
      {"code,name,market,kind,file,lot\nhk.700,腾讯控股,HK,stock,,0\n", std::nullopt, "", "lot（每手股数）应为正整数: '0'"},
      {"code,name,market,kind,lot\nhk.700,腾讯控股,HK,stock,-100\n", std::nullopt, "", "应为正整数: '-100'"},
      {"code,name,market,kind,lot\nhk.700,腾讯控股,HK,stock,1.5\n", std::nullopt, "", "应为正整数: '1.5'"},
      {"code,name,market,kind,lot\nhk.700,腾讯控股,HK,stock,1e3\n", std::nullopt, "", "应为正整数: '1e3'"},
      {"code,name,market,kind,lot\nhk.700,腾讯控股,HK,stock,100,x\n", std::nullopt, "", "应有 4 至 5 个字段"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    write_file(dir / "i.csv", row.text);
    const InstrumentList list = read_instrument_csv(dir / "i.csv");
    if (*row.fault) {
      ASSERT_EQ(list.rejected.size(), 1u);
      EXPECT_TRUE(list.entries.empty());
      EXPECT_EQ(list.rejected[0].rfind((dir / "i.csv").string() + ":2: ", 0), 0u) << list.rejected[0];
      EXPECT_NE(list.rejected[0].find(row.fault), std::string::npos) << list.rejected[0];
      continue;
    }
    ASSERT_EQ(list.entries.size(), 1u) << (list.rejected.empty() ? "" : list.rejected[0]);
    EXPECT_EQ(list.entries[0].code, "hk.00700");
    EXPECT_EQ(list.entries[0].name, "腾讯控股");
    EXPECT_EQ(list.entries[0].file, row.file);
    EXPECT_EQ(list.entries[0].lot, row.lot);
  }
  for (const char* header : {"code,name,market,kind,lots\n", "code,name,market\n", "code,name,market,kind,lot,lot\n"}) {
    write_file(dir / "i.csv", header);
    EXPECT_THROW(read_instrument_csv(dir / "i.csv"), quorvel::RuntimeError) << header;
  }
}

// A store written before instruments had a lot keeps its rows, gains the column and takes the
// bundled lots; a later list without lots does not erase them.
TEST(BundledData, AStoreWithoutLotsIsMigratedAndKeepsKnownLots) {
  TempDir dir;
  quorvel::sqlite::Database(dir / "s.sqlite", market_db_options(true))
      .exec("CREATE TABLE instruments(code TEXT PRIMARY KEY, name TEXT NOT NULL, market TEXT NOT NULL, "
            "kind TEXT NOT NULL) WITHOUT ROWID; INSERT INTO instruments VALUES('hk.00700', '旧名', 'HK', 'stock');");
  auto service = std::make_shared<LocalMarketData>(dir / "s.sqlite", quorvel::get_project_root() / "data");
  quorvel::Service<MarketData>::Guard guard(service);
  EXPECT_EQ(tarnel::get_name_from_code("hk.00700"), "旧名");
  EXPECT_EQ(tarnel::board_lot("hk.700"), 100);
  EXPECT_EQ(tarnel::board_lot("hk.00939"), 1000);
  EXPECT_EQ(tarnel::board_lot("sh.600000"), std::nullopt);
  EXPECT_EQ(tarnel::board_lot("hk.00005"), std::nullopt);

  BarStore store(dir / "s.sqlite");
  write_file(dir / "i.csv", "code,name,market,kind\nhk.00700,腾讯控股,HK,stock\n");
  import_instrument_file(store, dir / "i.csv");
  EXPECT_EQ(store.instrument("hk.00700")->lot, 100);
  EXPECT_EQ(store.instrument("hk.00700")->name, "腾讯控股");
  write_file(dir / "i.csv", "code,name,market,kind,lot\nhk.00700,腾讯控股,HK,stock,200\n");
  import_instrument_file(store, dir / "i.csv");
  EXPECT_EQ(service->board_lot("hk.00700"), 200);
}

TEST(BundledData, MissingOrUnreadableDataFolderIsAClearError) {
  TempDir dir;
  try {
    LocalMarketData service(dir / "s.sqlite", dir / "nowhere");
    FAIL();
  } catch (const quorvel::RuntimeError& e) {
    EXPECT_NE(std::string(e.what()).find("nowhere"), std::string::npos);
  }
  EXPECT_EQ(BarStore(dir / "s.sqlite").instrument_count(), 0u);  // nothing half-written
  EXPECT_THROW(BarStore(dir / "no" / "such" / "dir" / "s.sqlite"), quorvel::RuntimeError);
}

}  // namespace
}  // namespace tarnel
