#pragma once
// A report store in a temporary directory over the bundled bars, filled with analyses the way the
// AI selector stores them, for the page tests.
#include <cstdint>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "contracts/market_data.h"
#include "contracts/service.h"
#include "report/report_fixtures.h"
#include "support/fake_market_data.h"
#include "support/test_support.h"
#include "tarnel/local_market_data.h"

namespace quorvel::testing {

// Summaries whose verdict sections read BUY and WATCH.
inline constexpr const char* BUY_SUMMARY = "###### 趋势判断：看涨\n###### 决策建议：建议买入\n###### 置信度：中\n";
inline constexpr const char* WATCH_SUMMARY = "###### 趋势判断：震荡\n###### 决策建议：观望等待\n###### 置信度：低\n";

struct PageStore {
  TempDir dir;
  Service<tarnel::MarketData>::Guard market{bundled_market_data()};
  std::shared_ptr<report::SqlReportStore> store = open_store(dir.path());

  // Saves an analysis with its summary; returns the analysis' id.
  std::int64_t add(report::AnalysisReport a, const std::string& summary_text) {
    report::SummaryReport s = summary(a.stock_code, a.analysis_time);
    s.stock_name = a.stock_name;
    s.llm_client_type = a.llm_client_type;
    s.content = summary_text;
    store->save_analysis_with_summary(a, s);
    return *store->latest_analysis_id({a.stock_code, a.analysis_time, a.llm_client_type});
  }
};

// An analysis of `code` on `date` holding `decision` (null: none).
inline report::AnalysisReport page_analysis(const std::string& code, const std::string& name, const std::string& market,
                                            const std::string& date, const nlohmann::ordered_json& decision) {
  report::AnalysisReport a = analysis(code, date, "offline");
  a.stock_name = name;
  a.market_type = market;
  a.decision = decision;
  return a;
}

}  // namespace quorvel::testing
