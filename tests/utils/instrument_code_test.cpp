// The one spelling of an instrument code.
#include <gtest/gtest.h>

#include "quorvel/utils/instrument_code.h"

namespace quorvel {
namespace {

TEST(InstrumentCode, EverySpellingOfAnInstrumentHasOneCanonicalCode) {
  const std::pair<const char*, const char*> rows[] = {
      {"sh.600519", "sh.600519"}, {"SH.600519", "sh.600519"}, {" 600519.SH ", "sh.600519"},
      {"000001.sz", "sz.000001"}, {"bj.430047", "bj.430047"}, {"hk.700", "hk.00700"},
      {"HK.00700", "hk.00700"},   {"00700.HK", "hk.00700"},   {"hk.hsi", "hk.HSI"},
      {"us.aapl", "us.AAPL"},     {"AAPL.US", "us.AAPL"},     {"us.brk-b", "us.BRK-B"},
      {"etf.510050", "510050"},   {"510050", "510050"},       {"sh.510050", "sh.510050"},  // stays an A-market code
      {"xx.1234", ""},            {"600519.ETF", ""},         {"sh.6005", ""},
      {"", ""},
  };
  for (const auto& [raw, canonical] : rows) {
    SCOPED_TRACE(raw);
    EXPECT_EQ(canonical_code(raw).value_or(""), canonical);
  }
  EXPECT_EQ(canonical_or_raw("xx.1234"), "xx.1234");
}

TEST(InstrumentCode, BareStockNumbersNameTheirExchange) {
  const std::pair<const char*, const char*> rows[] = {
      {"600519", "sh.600519"}, {"688981", "sh.688981"}, {"000001", "sz.000001"}, {"300750", "sz.300750"},
      {"430047", "bj.430047"}, {"510050", ""},          {"159949", ""},          {"12345", ""},
  };
  for (const auto& [number, code] : rows) {
    SCOPED_TRACE(number);
    EXPECT_EQ(a_share_code_of_number(number).value_or(""), code);
  }
}

}  // namespace
}  // namespace quorvel
