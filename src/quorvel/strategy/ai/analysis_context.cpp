#include "quorvel/strategy/ai/analysis_context.h"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

#include "contracts/errors.h"
#include "contracts/market_data.h"
#include "contracts/pattern_service.h"
#include "quorvel/agent/schemas/value_text.h"
#include "quorvel/strategy/ai/constraints.h"
#include "quorvel/strategy/ai/indicator_columns.h"
#include "quorvel/strategy/ai/market_bias.h"
#include "quorvel/strategy/ai/signal_context.h"
#include "quorvel/strategy/ai/trading_rules.h"
#include "quorvel/utils/json_text.h"
#include "quorvel/utils/json_values.h"
#include "quorvel/utils/logger.h"
#include "quorvel/utils/market_type.h"
#include "quorvel/utils/number_text.h"

namespace quorvel::strategy::ai {

namespace {

using Json = nlohmann::ordered_json;

std::string or_none(const std::optional<std::string>& text) { return text ? *text : "None"; }

// Steps that give the pattern information its two extra members and the constraints.
void enrich_pattern_info(AnalysisContext& ctx, const std::string& market_ai_brief) {
  ctx.pattern_info_dict["zx_quant_signals"] =
      _build_strategy_signal_context(ctx.daily, ctx.stock_code, ctx.market_type);
  ctx.bias = _extract_market_bias(market_ai_brief);
  ctx.constraints = _calculate_constraints(ctx.bias, ctx.pattern_info_dict, ctx.daily, ctx.weekly_df);
  ctx.pattern_info_dict["calculated_constraints"] = ctx.constraints;
  const InstrumentFacts instrument{.code = ctx.stock_code,
                                   .name = ctx.stock_name,
                                   .market_type = ctx.market_type.value_or("A"),
                                   .fund = ctx.agent_type == "ETF",
                                   .lot = tarnel::board_lot(ctx.stock_code)};
  ctx.pattern_info_dict["trading_rules"] =
      trading_rules(instrument, ctx.daily, ctx.bias, ctx.constraints, ctx.pattern_info_dict);
  ctx.pattern_info = safe_json_dumps(ctx.pattern_info_dict, false, 2);
  logger.info("[逻辑左移] 约束注入: bias=" + ctx.bias + ", min_rrr=" + scalar_text(ctx.constraints["min_rrr"]) +
              ", base_score=" + scalar_text(ctx.constraints["base_confidence_score"]) + ", effective_max_position_pct=" +
              scalar_text(ctx.pattern_info_dict["trading_rules"]["effective_max_position_pct"]));
}

}  // namespace

bool is_etf_code(const std::string& code) {
  if (code.rfind("etf.", 0) == 0) return true;
  return code.size() == 6 &&
         std::all_of(code.begin(), code.end(), [](unsigned char c) { return c >= '0' && c <= '9'; });
}

std::string agent_type_for(const std::string& code, const std::optional<std::string>& market_type) {
  if (is_etf_code(code)) return "ETF";
  return market_type && !market_type->empty() ? *market_type : "A";
}

Json parse_pattern_info(const std::string& pattern_info) {
  Json parsed = Json::parse(pattern_info, nullptr, false);
  return parsed.is_object() ? parsed : Json::object();
}

std::string strategy_line(const Json& pattern_info_dict) {
  const auto pre = pattern_info_dict.find("pre_screen");
  if (pre != pattern_info_dict.end() && !pre->is_object()) {
    logger.debug("pattern_info 解析失败: %s", "pre_screen 应为对象，实际为" + agent::schemas::kind_name(*pre));
    return "";
  }
  std::string type = pre != pattern_info_dict.end() ? text_member(*pre, "strategy_hint") : "";
  if (type.empty()) type = text_member(pattern_info_dict, "strategy_type");
  return type.empty() ? "" : "筛选策略: " + type + "\n";
}

std::string scalar_text(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer()) return number_text(value.get<long long>());
  if (value.is_number()) return number_text(value.get<double>());
  return value.dump();
}

namespace {

// The weekly JSON with a "partial_week" member when its last week has not ended on the market's
// calendar (trading days remain after the last daily bar in that week): that bar holds only the
// sessions so far, and its volume and range are not those of a whole week.
std::string with_partial_week(const std::string& weekly_json, const tarnel::BarTable& daily, const std::string& market) {
  if (daily.empty() || weekly_json.size() < 2 || weekly_json.back() != '}') return weekly_json;
  const tarnel::Date last = daily.index().back();
  const date::weekday wd{last};
  const tarnel::Date monday = last - (wd - date::Monday);
  const tarnel::Date friday = monday + date::days{4};
  if (!(last < friday) || tarnel::count_trading_days(market, tarnel::date_text(last), tarnel::date_text(friday)) == 0)
    return weekly_json;
  std::size_t sessions = 0;
  for (const tarnel::Date d : daily.index()) sessions += d >= monday;
  return weekly_json.substr(0, weekly_json.size() - 1) +
         fmt::format(",\"partial_week\":{{\"last_bar\":\"{}\",\"sessions\":{}}}}}", tarnel::date_text(last), sessions);
}

}  // namespace

AnalysisContext prepare_analysis_context(const AIAnalysisRequest& request) {
  AnalysisContext ctx;
  ctx.stock_code = request.stock_status.code;
  ctx.weekly_df = tarnel::generate_weekly_tarnel(request.df);
  ctx.daily = request.df;
  add_indicator_columns(ctx.daily);
  add_indicator_columns(ctx.weekly_df);
  ctx.ohlc_data = tarnel::tarnel_to_json(ctx.daily.tail(DAILY_ROWS_FOR_LLM));
  ctx.ohlc_data_week = ctx.weekly_df.empty() ? "[]" : tarnel::tarnel_to_json(ctx.weekly_df.tail(WEEKLY_ROWS_FOR_LLM));
  if (ctx.ohlc_data_week == "[]") logger.warning("[数据不足] %s: 周线数据为空，中期趋势分析将缺失", ctx.stock_code);

  ctx.market_type = get_market_type(ctx.stock_code, tarnel::get_name_from_code(ctx.stock_code));
  ctx.ohlc_data_week = with_partial_week(ctx.ohlc_data_week, ctx.daily, ctx.market_type.value_or("A"));
  ctx.agent_type = agent_type_for(ctx.stock_code, ctx.market_type);
  logger.info("[Agent选择] stock=" + ctx.stock_code + " market_type=" + or_none(ctx.market_type) +
              " -> agent_type=" + ctx.agent_type);
  ctx.agent = agent::StockAgentFactory::get_agent(ctx.agent_type);
  if (!ctx.agent) throw RuntimeError("股票代理创建失败: agent_type=" + ctx.agent_type);
  ctx.stock_name = tarnel::get_name_from_code(ctx.stock_code);

  ctx.pattern_info_dict = request.pattern_info.empty()
                              ? zerith::pre_screen_and_scan(ctx.daily, ctx.stock_code, "all", AI_SCAN_MIN_SCORE)
                              : parse_pattern_info(request.pattern_info);
  if (!ctx.pattern_info_dict.is_object()) ctx.pattern_info_dict = Json::object();
  enrich_pattern_info(ctx, request.market_ai_brief);
  ctx.strategy_text = strategy_line(ctx.pattern_info_dict);
  return ctx;
}

}  // namespace quorvel::strategy::ai
