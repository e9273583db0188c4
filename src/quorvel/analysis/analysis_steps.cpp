#include "quorvel/analysis/analysis_steps.h"

#include <cmath>
#include <exception>
#include <utility>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "contracts/report_store.h"
#include "quorvel/indicators/status_computation.h"
#include "quorvel/strategy/technical/combined_selector.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/instrument_code.h"
#include "quorvel/utils/json_text.h"
#include "quorvel/utils/market_type.h"
#include "quorvel/utils/text.h"

namespace quorvel {

std::string market_end_date(const std::string& stock_code, const std::string& date) {
  return tarnel::normalize_end_date_for(get_market_type(stock_code).value_or("A"), date);
}

namespace {

using Json = nlohmann::ordered_json;

// What the model must know of the data besides the bars: a stale last bar, and the splits and
// bonus issues the raw series was adjusted for. Null when there is nothing to say.
Json data_facts(const std::string& data_note, const tarnel::BarTable& df) {
  Json facts;
  if (!data_note.empty()) facts["data_notes"].push_back(data_note);
  if (!df.adjustments().empty()) {
    Json& actions = facts["corporate_actions"];
    actions["adjusted"] = Json::array();
    for (const auto& a : df.adjustments())
      actions["adjusted"].push_back({{"date", tarnel::date_text(a.date)}, {"ratio", std::round(a.ratio * 10000) / 10000}});
    actions["note"] =
        "原始价格序列在这些日期出现超出涨跌停幅度的开盘价，判定为拆分或送转：其前的价格已除以 ratio、成交量已乘以 ratio；"
        "现金分红未调整，因此该序列不是前复权序列";
  }
  return facts;
}

// The pattern information with `facts` added as members. Left as it is when it is no JSON object
// (the AI selector then scans itself).
std::string with_members(const std::string& pattern_info, const Json& facts) {
  Json info = Json::parse(pattern_info, nullptr, false);
  if (!info.is_object()) return pattern_info;
  for (const auto& [key, value] : facts.items()) info[key] = value;
  return safe_json_dumps(info, false, 2);
}

}  // namespace

std::string name_or_empty(const std::string& stock_code) {
  try {
    return tarnel::get_name_from_code(stock_code);
  } catch (const std::exception& e) {
    logger.info("获取股票名称时出错: " + std::string(e.what()));
    return "";
  }
}

void refuse_bare_stock_number(const std::string& code, const std::string& name) {
  if (code.find('.') != std::string::npos || !name.empty()) return;
  if (const auto stock = a_share_code_of_number(code))
    throw ValueError(code + " 不是行情库中的基金代码；若是 A 股股票，请写成 " + *stock + "（沪市 sh.、深市 sz.、北交所 bj.）");
}

std::string analysis_code(const std::string& raw) {
  const std::string code = canonical_or_raw(raw);
  if (code.find('.') == std::string::npos) refuse_bare_stock_number(code, name_or_empty(code));
  return code;
}

std::string AnalysisDay::note() const {
  if (!stale()) return "";
  return fmt::format("数据截至 {}，比请求的 {} 早 {} 个交易日 (停牌或数据未更新)，分析基于 {} 的收盘", date, requested,
                     sessions_behind, date);
}

AnalysisDay analysis_day(const std::string& stock_code, const std::string& requested) {
  AnalysisDay day{requested, requested, 0};
  const tarnel::BarTable df = tarnel::get_any_ohlc(stock_code, tarnel::get_default_start_date(), requested);
  if (df.empty()) return day;
  day.date = date_key(df.last_date());
  if (day.date == requested) return day;
  logger.info("[日期自动校准] 输入日期 " + requested + " 无交易数据，校准为最后交易日: " + day.date);
  day.sessions_behind = sessions_behind(stock_code, day.date, requested);
  if (day.stale()) logger.warning("[数据状态] %s: %s", stock_code, day.note());
  return day;
}

PreparedStock prepare_stock(const std::string& stock_code, const AnalysisDay& day) {
  const std::string& analysis_time = day.date;
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
  p.data_note = day.note();
  if (const Json facts = data_facts(p.data_note, p.df); !facts.is_null()) p.pattern_info = with_members(p.pattern_info, facts);
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
