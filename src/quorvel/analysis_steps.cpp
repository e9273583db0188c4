#include "quorvel/analysis_steps.h"

#include <exception>
#include <utility>

#include "contracts/market_data.h"
#include "contracts/report_store.h"
#include "quorvel/indicators/status_computation.h"
#include "quorvel/strategy/technical/combined_selector.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/market_type.h"

namespace quorvel {

std::string market_end_date(const std::string& stock_code, const std::string& date) {
  return get_market_type(stock_code) == "US" ? tarnel::normalize_us_market_end_date(date)
                                             : tarnel::normalize_market_end_date(date);
}

std::string name_or_empty(const std::string& stock_code) {
  try {
    return tarnel::get_name_from_code(stock_code);
  } catch (const std::exception& e) {
    logger.info("获取股票名称时出错: " + std::string(e.what()));
    return "";
  }
}

PreparedStock prepare_stock(const std::string& stock_code, const std::string& analysis_time) {
  PreparedStock p;
  p.stock_name = name_or_empty(stock_code);
  p.market_type = get_market_type(stock_code, p.stock_name);
  logger.info("检测到股票代码: " + stock_code + " (" + p.stock_name + ")，背景市场类型: " + p.market_type.value_or("None"));
  p.df = tarnel::get_any_ohlc(stock_code, tarnel::get_default_start_date(), analysis_time);
  if (p.df.empty()) return p;
  p.stock_status = indicators::get_stock_status(p.df, stock_code);
  strategy::SelectorCheckResult screen =
      strategy::technical::CombinedSelector().check(stock_code, tarnel::get_default_start_date(), analysis_time);
  p.pattern_info = std::move(screen.pattern_info_str);
  p.selector_source = std::move(screen.strategy_type);
  return p;
}

void flush_store() {
  try {
    const report::FlushResult flushed = report::default_storage().flush();
    if (!flushed.ok()) {
      logger.debug("刷新 MQ 失败: %s", flushed.error);
      if (flushed.pending > 0)
        logger.warning("消息未能全部投递到消息队列：%d 条留在发件箱，不会丢失；稍后运行 quorvel-reports flush 投递",
                       flushed.pending);
    }
  } catch (const std::exception& e) {
    logger.debug("刷新 MQ 失败: %s", e.what());
  }
}

}  // namespace quorvel
