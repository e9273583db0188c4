#pragma once
// What the offline analyst reads out of a rendered stock-analysis prompt: the instrument block, the
// daily and weekly bar JSON, pattern_info, the market brief's bias, and from the system message the
// market family and the step headings the answer must carry. Pure functions; safe on any thread.
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "contracts/bar_table.h"

namespace quorvel::agent::offline {

// One heading of the analysis framework, e.g. {"2.1", "#### 2.1 趋势结构（多周期共振）"}.
struct StepHeading {
  std::string number;
  std::string line;
};

struct StockPromptFacts {
  std::string market = "A";  // template family: "A", "HK", "US" or "ETF"
  std::string stock_code, stock_name, analysis_time;
  std::string current_price_text, pct_change;                         // as rendered; pct_change without "%"
  double current_price = 0;                                           // NaN when the text is not a number
  tarnel::BarTable daily, weekly;                                     // oldest first; NaN for null cells
  nlohmann::ordered_json pattern = nlohmann::ordered_json::object();  // {} when missing or unreadable
  bool pattern_readable = false;
  std::string bias = "震荡";  // from the brief's verdict line
  bool bias_found = false;
  std::string step0_label = "代码、名称";
  std::vector<StepHeading> headings;  // Step 0 .. Step 6 in prompt order, without 6.1-6.3
};

// True when the user message is a rendered stock-analysis prompt.
bool is_stock_prompt(const std::string& user_message);

// The facts of a stock prompt; nothing when the user message is not one. Unreadable parts (bar
// JSON, pattern_info) come back empty rather than failing the whole prompt.
std::optional<StockPromptFacts> parse_stock_prompt(const std::string& system_message, const std::string& user_message);

// Bars from either layout of the bar JSON: {"columns": [...], "rows": [[...], ...]} or an array of
// row objects; an empty table for "[]" or unreadable text. Rows with a malformed date are skipped.
tarnel::BarTable parse_bar_json(const std::string& text);

// The bias of the brief's verdict line "市场研判 · [偏多 / 强度]" (the bracket is optional);
// nothing when there is none.
std::optional<std::string> brief_bias(const std::string& brief);

// The framework headings of a system message; the A-share headings when it has none.
std::vector<StepHeading> step_headings(const std::string& system_message);

}  // namespace quorvel::agent::offline
