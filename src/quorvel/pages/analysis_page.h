#pragma once
// The page of one analysis: a header with what the trader decides on (code, name, day, verdict,
// action, direction, confidence, "需复核"), the chart with the plan drawn on it, the decision and
// its rule checks, the ledger's outcome once scored, then the analysis, the trading summary and the
// market brief rendered from their Markdown. One self-contained file beside the Markdown report.
#include <string>

#include "quorvel/pages/price_chart.h"
#include "quorvel/report/page_rows.h"

namespace quorvel::pages {

struct AnalysisPage {
  report::PageReport report;
  std::string verdict;        // "BUY", "SELL", "WATCH"; empty when the summary holds none
  PriceChartData chart;
  std::string markdown_file;  // the Markdown report, relative to the page; empty when not written
};

// The page's head names the analysis it shows: <meta name="quorvel-report" content="<id>">.
inline constexpr const char* REPORT_ID_META = "quorvel-report";

std::string analysis_page_html(const AnalysisPage& page);

}  // namespace quorvel::pages
