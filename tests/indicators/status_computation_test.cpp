#include <cmath>
#include <memory>

#include <gtest/gtest.h>

#include "contracts/errors.h"
#include "quorvel/indicators/status_computation.h"
#include "support/fake_market_data.h"

namespace quorvel::indicators {
namespace {

using testing::BarsBuilder;
using testing::FakeMarketData;

class StatusComputation : public ::testing::Test {
 protected:
  std::shared_ptr<FakeMarketData> data = std::make_shared<FakeMarketData>();
  Service<tarnel::MarketData>::Guard guard{data};
};

TEST_F(StatusComputation, OnlyEmaIsAcceptedAndARejectedTypeLeavesTheTableAlone) {
  tarnel::BarTable df = BarsBuilder().series("2023-01-02", 30).build();
  for (MA_Type t : {MA_Type::SMA, MA_Type::WMA, MA_Type::T3}) {
    try {
      get_ma_status(df, t);
      FAIL() << "accepted type " << int(t);
    } catch (const ValueError& e) {
      EXPECT_EQ(std::string(e.what()), "不支持的移动平均类型: " + std::to_string(int(t)) + "。支持的类型为 'EMA'");
    }
  }
  EXPECT_FALSE(df.has_column("EMA_5"));
  EXPECT_EQ(data->total_indicator_calls(), 0);
  EXPECT_EQ(get_ma_status(df).ma_type, MA_Type::EMA);
  EXPECT_TRUE(df.has_column("EMA_5"));
}

TEST_F(StatusComputation, PresentMarkersMeanNoServiceCall) {
  tarnel::BarTable df = BarsBuilder().series("2023-01-02", 5).build();
  for (const char* marker : {"MACD", "MACD_signal", "MACD_hist", "RSI", "upper_band", "middle_band", "lower_band",
                             "Volume_MA", "Volume_Ratio", "ATR", "Volatility", "EMA_5"})
    df.set_column(marker, std::vector<double>(5, 1.25));
  const StockStatus s = get_stock_status(df, "sh.600000");
  EXPECT_EQ(data->total_indicator_calls(), 0);
  EXPECT_EQ(to_string(*s.macd_status), "DIF: 1.25, DEA:1.25, MACD_hist: 1.25");
  EXPECT_EQ(s.volume_status->volume_ratio.value(), 1.25);
}

TEST_F(StatusComputation, StockStatusWorksOnACopyWhileFamiliesChangeTheirTable) {
  data->names["sh.600000"] = "浦发银行";
  const tarnel::BarTable df = BarsBuilder().series("2022-01-03", 200).build();
  const StockStatus s = get_stock_status(df, "sh.600000");
  EXPECT_EQ(df.column_names(), tarnel::BarTable::base_columns());
  EXPECT_EQ(s.name, "浦发银行");
  EXPECT_EQ(s.price.value(), df.last("close"));
  EXPECT_FALSE(s.price.is_integer());
  EXPECT_EQ(data->calls["set_rsi(12)"], 1);
  for (const char* op : {"set_macd", "set_rsi", "set_boll", "set_volume", "set_ema"}) EXPECT_EQ(data->calls[op], 1) << op;

  tarnel::BarTable mine = df;
  const RStatus r = get_rsi_status(mine);
  EXPECT_TRUE(mine.has_column("RSI"));
  EXPECT_EQ(r.rsi.value(), s.rsi_status->rsi.value());
}

TEST_F(StatusComputation, UnknownNameGivesEmptyNameInTheText) {
  const StockStatus s = get_stock_status(BarsBuilder().series("2022-01-03", 40).build(), "sz.000001");
  EXPECT_EQ(s.name, "");
  EXPECT_NE(to_string(s).find("name=, price="), std::string::npos);
}

TEST_F(StatusComputation, OneRowTableKeepsNaNIndicatorsAndItsClose) {
  const tarnel::BarTable df = BarsBuilder().day("2023-02-10", 7.25, 7.27, 7.22, 7.24, 11944106).build();
  const StockStatus s = get_stock_status(df, "sh.600000");
  EXPECT_EQ(s.price.value(), 7.24);
  EXPECT_TRUE(std::isnan(s.macd_status->dif.value()));
  EXPECT_TRUE(std::isnan(s.rsi_status->rsi.value()));
  EXPECT_TRUE(std::isnan(s.volume_status->volume_ratio.value()));
  EXPECT_EQ(s.volume_status->volume.value(), 11944106.0);
  EXPECT_NE(to_string(s).find("Volume_Ratio: nan"), std::string::npos);
}

TEST_F(StatusComputation, EmptyTableFailsAtTheFirstLastRowRead) {
  EXPECT_THROW(get_stock_status(tarnel::BarTable::with_base_columns(), "sh.600000"), RuntimeError);
}

TEST_F(StatusComputation, MarkerWithoutItsSiblingColumnsPropagatesTheMissingColumn) {
  tarnel::BarTable df = BarsBuilder().series("2023-01-02", 5).build();
  df.set_column("MACD", std::vector<double>(5, 0.0));
  EXPECT_THROW(get_macd_status(df), RuntimeError);
}

TEST(StatusComputationWithoutService, NamesTheMissingService) {
  tarnel::BarTable df = BarsBuilder().series("2023-01-02", 5).build();
  try {
    get_macd_status(df);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_NE(std::string(e.what()).find("market data (tarnel)"), std::string::npos);
  }
}

}  // namespace
}  // namespace quorvel::indicators
