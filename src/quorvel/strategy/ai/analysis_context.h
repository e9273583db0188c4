#pragma once
// The context of one AI analysis, prepared before the LLM is asked: indicator columns on copies of
// the bars, the bar JSON the model reads, market type and agent, pattern information enriched with
// strategy signals and pre-computed constraints, and the screening-strategy line. Nothing here is
// caught: a failure stops the analysis before any LLM call.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"
#include "contracts/llm_agent.h"
#include "quorvel/strategy/ai/basic_ai_selector.h"

namespace quorvel::strategy::ai {

// Rows of bar JSON handed to the LLM.
inline constexpr std::size_t DAILY_ROWS_FOR_LLM = 60;
inline constexpr std::size_t WEEKLY_ROWS_FOR_LLM = 20;
// Minimum score of the pattern pre-screen run when the caller brings no pattern information.
inline constexpr double AI_SCAN_MIN_SCORE = 5;

struct AnalysisContext {
  std::string stock_code;
  tarnel::BarTable daily;      // the caller's bars plus indicator columns
  tarnel::BarTable weekly_df;  // weekly bars plus indicator columns (possibly empty)
  std::string ohlc_data;       // JSON of the last daily rows
  std::string ohlc_data_week;  // JSON of the last weekly rows, or "[]"
  std::optional<std::string> market_type;
  std::string agent_type;
  std::unique_ptr<agent::StockAgent> agent;
  std::string stock_name;
  nlohmann::ordered_json pattern_info_dict;
  std::string bias;
  nlohmann::ordered_json constraints;
  std::string pattern_info;   // the enriched pattern information as JSON text (two-space indent)
  std::string strategy_text;  // "筛选策略: <type>\n", or empty
};

// A fund: a code with the prefix "etf." or exactly six decimal digits.
bool is_etf_code(const std::string& code);

// The stock agent type: "ETF" for a fund, else the market type when it is non-empty, else "A".
std::string agent_type_for(const std::string& code, const std::optional<std::string>& market_type);

// The pattern information text as a map; text that is not a JSON object gives an empty map.
nlohmann::ordered_json parse_pattern_info(const std::string& pattern_info);

// "筛选策略: <type>\n" from pre_screen.strategy_hint, else the map's strategy_type; empty when
// neither is a non-empty text. A pre_screen that is present but not a map is logged at debug level
// and gives the empty text.
std::string strategy_line(const nlohmann::ordered_json& pattern_info_dict);

// Text of a scalar JSON value as a log line shows it (numbers in shortest form, texts as they are).
std::string scalar_text(const nlohmann::ordered_json& value);

AnalysisContext prepare_analysis_context(const AIAnalysisRequest& request);

}  // namespace quorvel::strategy::ai
