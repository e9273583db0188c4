#pragma once
// Values of one instrument for rendering the stock templates in tests.
#include <string>

#include <nlohmann/json.hpp>

namespace vellumor_test {

inline nlohmann::ordered_json stock_values(const std::string& code = "sh.600519",
                                           const std::string& name = "贵州茅台",
                                           double price = 1520.5) {
  return {
      {"stock_code", code},
      {"stock_name", name},
      {"analysis_time", "2025-06-30"},
      {"current_price", price},
      {"pct_change", "1.25"},
      {"stock_data", R"([{"Date": "2025-06-30", "close": 1520.5}])"},
      {"stock_week_data", R"([{"Date": "2025-06-27", "close": 1498.0}])"},
      {"pattern_info", "{\n  \"risk_flags\": [\"高潮量\"]\n}"},
      {"market_ai_brief", "**▋ A 股大盘市场研判 · 偏空 / 中**\n- **策略指引**：**空仓等待**"},
  };
}

}  // namespace vellumor_test
