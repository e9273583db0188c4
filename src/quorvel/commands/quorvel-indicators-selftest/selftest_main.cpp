// Self-test of the indicator status: fetches one instrument's bars from the market-data service,
// computes its StockStatus and logs the status text and the last price.
#include <string>

#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "quorvel/indicators/status_computation.h"
#include "quorvel/utils/cli.h"
#include "quorvel/utils/command_main.h"
#include "quorvel/utils/environment.h"
#include "quorvel/utils/logger.h"
#include "tarnel/local_market_data.h"

int main(int argc, char** argv) {
  return quorvel::run_main("quorvel-indicators-selftest", [&]() -> int {
    using quorvel::logger;
    CLI::App app{"指标状态自检：读取一只证券的日线，计算并打印其指标状态与最新价格。", "quorvel-indicators-selftest"};
    std::string code = "sh.688028", end = "2026-03-30";
    app.add_option("--code", code, "证券代码")->capture_default_str();
    app.add_option("--end", end, "截止日期 YYYY-MM-DD")->capture_default_str();
    if (auto status = quorvel::parse_command_line(app, argc, argv)) return *status;

    try {
      quorvel::load_quorvel_env();
      tarnel::install_local_market_data();
      const std::string start = tarnel::get_default_start_date();
      const tarnel::BarTable df = tarnel::get_any_ohlc(code, start, end);
      if (df.empty()) {
        logger.error("没有 %s 在 %s 至 %s 之间的日线，无法计算指标状态（可用 tarnel-import 导入数据，或用 --code 指定已有证券）",
                     code, start, end);
        return 1;
      }
      const auto status = quorvel::indicators::get_stock_status(df, code);
      logger.info("stock status: " + quorvel::indicators::to_string(status));
      logger.info("stock price: " + quorvel::number_text(status.price));
    } catch (const quorvel::Error& e) {
      logger.error("指标状态自检失败: %s", e.what());
      return 1;
    }
    return 0;
  });
}
