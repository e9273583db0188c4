#include <cmath>

#include <gtest/gtest.h>

#include "quorvel/indicators/stock_status.h"

namespace quorvel::indicators {
namespace {

TEST(StatusRecords, TextFormsAreExact) {
  EXPECT_EQ(to_string(StockStatus("sh.600000")),
            "StockStatus(code=sh.600000, name=, price=0, macd_status=None, rsi_status=None, boll_status=None, "
            "volume_status=None, ma_status=None)");
  EXPECT_EQ(to_string(MStatus()), "DIF: 0, DEA:0, MACD_hist: 0");
  EXPECT_EQ(to_string(MStatus(0.12345, -0.0004, 1.0)), "DIF: 0.123, DEA:-0.0, MACD_hist: 1.0");
  EXPECT_EQ(to_string(VolumeStatus(1000000.0, 800000.0, 2.5, 0.4567, 3.5)),
            "Volume: 1000000.0, Volume_MA: 800000.0, Volume_Ratio: 2, ATR: 0.457, Volatility: 4, msg: []");
  EXPECT_EQ(to_string(MAStatus()), "MAStatus(ma_type=1)");
  EXPECT_EQ(to_string(RStatus(std::nan(""))), "rsi: nan");
  EXPECT_EQ(to_string(BollingerBandsStatus(10.12345, 10.0, 9.0)),
            "Upper Band: 10.123, Middle Band: 10.0, Lower Band: 9.0");
  EXPECT_EQ(to_string(TradeEnum::WATCH), "TradeEnum.WATCH");
  EXPECT_EQ(to_string(TrendEnum::EQUAL), "TrendEnum.EQUAL");
  EXPECT_EQ(static_cast<int>(TradeEnum::SELL), 1);
}

TEST(StatusRecords, VolumeStatusOfShortHistoryPrintsNanInsteadOfFailing) {
  VolumeStatus v(100.0, std::nan(""), std::nan(""), std::nan(""), std::nan(""));
  v.msg = {"放量", "缩量"};
  EXPECT_EQ(to_string(v), "Volume: 100.0, Volume_MA: nan, Volume_Ratio: nan, ATR: nan, Volatility: nan, msg: ['放量', '缩量']");
  EXPECT_EQ(v.score, 0);
}

TEST(StatusRecords, FullStockStatusEmbedsSubRecordsAndRawPrice) {
  StockStatus s("hk.00700");
  s.name = "腾讯控股";
  s.price = 312.6000061035156;
  s.rsi_status = RStatus(55.55555);
  s.ma_status = MAStatus();
  EXPECT_EQ(to_string(s),
            "StockStatus(code=hk.00700, name=腾讯控股, price=312.6000061035156, macd_status=None, "
            "rsi_status=rsi: 55.556, boll_status=None, volume_status=None, ma_status=MAStatus(ma_type=1))");
}

}  // namespace
}  // namespace quorvel::indicators
