#include "quorvel/agent/core/stock_agent.h"

#include <utility>

#include <nlohmann/json.hpp>

#include "contracts/errors.h"
#include "quorvel/agent/core/chat_agent.h"
#include "quorvel/agent/prompts/vellumor/render.h"
#include "quorvel/agent/prompts/vellumor/templates.h"
#include "quorvel/utils/logger.h"

namespace quorvel::agent::core {

namespace vellumor = quorvel::agent::prompts::vellumor;

namespace {

std::string one_line(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

vellumor::Market market_of(const std::string& text) {
  const auto m = vellumor::parse_market(text);
  if (!m) throw ValueError("未知的股票代理类型 '" + text + "'，可选: A, HK, US, ETF");
  return *m;
}

}  // namespace

MarketStockAgent::MarketStockAgent(const std::string& market, ClientBundle bundle) {
  const vellumor::Market m = market_of(market);
  market_ = std::string(vellumor::market_name(m));
  system_message_ = &vellumor::stock_template(m, vellumor::Form::System);
  user_template_ = &vellumor::stock_template(m, vellumor::Form::User);
  if (!bundle.model_client) throw ValueError("股票代理 " + market_ + " 缺少 model_client");
  client = std::move(bundle.model_client);
  model_name = std::move(bundle.model_name);
  llm_client_type = std::move(bundle.client_type);
}

std::string MarketStockAgent::render_task(const StockAnalysisInputs& in) const {
  // The nine placeholders of the user template. market_type and selector_source have none: the
  // market already chose the template, and the screening strategy reaches the model through
  // pattern_info (pre_screen.strategy_hint).
  const nlohmann::ordered_json values = {
      {"stock_code", in.stock_code},       {"stock_name", in.stock_name},   {"analysis_time", in.analysis_time},
      {"current_price", in.current_price}, {"pct_change", in.pct_change},   {"stock_data", in.stock_data},
      {"stock_week_data", in.stock_week_data}, {"pattern_info", in.pattern_info},
      {"market_ai_brief", in.market_ai_brief}};
  return vellumor::render(*user_template_, values);
}

asio::awaitable<std::string> MarketStockAgent::analyze(const StockAnalysisInputs& inputs) {
  std::string task = render_task(inputs);
  logger.info("[StockAgent] 发送分析请求 | code=%s market_type=%s agent=%s client=%s model=%s selector=%s",
              inputs.stock_code, inputs.market_type, market_, llm_client_type, model_name,
              inputs.selector_source.empty() ? std::string("-") : one_line(inputs.selector_source));
  SimpleChatAgent chat("StockAgent_" + market_, client, *system_message_);
  auto run = chat.run(std::move(task));
  TaskResult result = co_await std::move(run);
  co_return std::move(result.messages.back().content);
}

}  // namespace quorvel::agent::core
