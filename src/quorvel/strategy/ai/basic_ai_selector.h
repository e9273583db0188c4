#pragma once
// 基础AI股票选择器实现。
// 基于StockSelector的结果，进一步分析并给出交易建议。
// 同时支持作为StockSelector或AISelector使用。
//
// As a rule-based selector (check with a code and two dates) it delegates to the combined technical
// selector. As the AI selector it prepares one instrument's context (indicator columns, pattern
// information with strategy signals and pre-computed constraints, the aligned analysis date), has
// the market's LLM agent write the analysis, turns the reply's decision into a trading summary,
// stores both texts, and reads the BUY / SELL / WATCH verdict from the summary.
//
// Stateless; every analysis creates its own agent and releases its client at the end. check_async
// runs on the caller's event loop and suspends only while the LLM answers and while the client
// closes.
#include <string>

#include <asio/awaitable.hpp>

#include "contracts/bar_table.h"
#include "quorvel/strategy/base/selector_base.h"
#include "quorvel/indicators/stock_status.h"

namespace quorvel::strategy::ai {

// The inputs of one analysis, by name (designated initialisers).
struct AIAnalysisRequest {
  indicators::StockStatus stock_status;  // code and price are read
  tarnel::BarTable df;                   // daily bars up to the analysis date; the caller's table is not changed
  std::string pattern_info;              // pattern information as JSON text; empty: scan here
  std::string selector_source;           // the rule-based selector's strategy type label
  std::string analysis_time;             // "YYYY-MM-DD"; empty: today
  std::string market_ai_brief;           // market brief of the instrument's market
  std::string data_note;                 // why the data may mislead (stale bars); in the stored reports' header
};

// The five results of check_async.
struct AIAnalysisResult {
  TradeEnum trade_enum = TradeEnum::WATCH;
  std::string stock_code;
  indicators::StockStatus stock_status;
  std::string summary_response;  // Markdown trading summary
  std::string trader_response;   // the LLM's full analysis; empty after a failure
};

// The first four results (the AI form of check).
struct AICheckResult {
  TradeEnum trade_enum = TradeEnum::WATCH;
  std::string stock_code;
  indicators::StockStatus stock_status;
  std::string summary_response;
};

class BasicAISelector : public AISelector {
 public:
  // Rule-based form: the combined technical selector's result for the code and range, unchanged.
  SelectorCheckResult check(const std::string& code, const std::string& start_date, const std::string& end_date,
                            const nlohmann::ordered_json& options = nlohmann::ordered_json::object()) override;

  // AI form: _check_as_ai_selector with these inputs.
  AICheckResult check(const indicators::StockStatus& stock_status, const tarnel::BarTable& df,
                      const std::string& pattern_info, const std::string& selector_source = "",
                      const std::string& analysis_time = "", const std::string& market_ai_brief = "");

  // 异步股票分析核心逻辑。
  // Failures while preparing the context (data services, indicator functions, signal context,
  // constraints, an absent market type) propagate. From the LLM call on every failure becomes the
  // WATCH result with the summary "分析出错: <error>" and an empty report; a reply that arrived
  // before the failure is kept in an audit file (analysis_audit.h).
  asio::awaitable<AIAnalysisResult> check_async(AIAnalysisRequest request);

  // Runs check_async to completion on an event loop of its own and returns the first four results.
  // Blocks the calling thread; never call it from a coroutine of a running event loop.
  AICheckResult _check_as_ai_selector(AIAnalysisRequest request);
};

// Prefix of the summary check_async returns for an analysis that failed.
inline constexpr std::string_view FAILED_SUMMARY_PREFIX = "分析出错: ";

// Why an analysis failed, from the summary of its failed result: the error after the prefix, the
// summary itself when it has none, "分析失败" when it is empty.
std::string failure_reason(const std::string& summary);

}  // namespace quorvel::strategy::ai
