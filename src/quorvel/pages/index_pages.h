#pragma once
// The two pages at the top of the report directory: index.html lists every stored analysis (the
// latest of each instrument-day and client), newest day first, with its verdict, action,
// confidence, rule-check result and ledger outcome, each linking to its page; ledger.html shows
// what the scored plans achieved: the headline figures, the calibration of stated confidence and
// the cumulative R of the filled buys over time.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quorvel/ledger/ledger_stats.h"
#include "quorvel/report/page_rows.h"

namespace quorvel::pages {

struct IndexRow {
  report::AnalysisEntry entry;
  std::string verdict;  // "BUY", "SELL", "WATCH" or empty
  std::string page;     // the analysis page, relative to the report directory
};

// One row of the index, on one line: <tr class="analysis" data-id=.. data-day=.. data-key=..>.
std::string index_row_html(const IndexRow& row);

// The index of `count` rows made by index_row_html and joined in the order to show (newest day
// first, then the latest stored). `generated_at`: when the page was written, as shown in its footer.
std::string index_page_html(std::string_view rows, std::size_t count, const std::string& generated_at);

// The index `html` with `row` in its place: the row of the same instrument-day and client is
// replaced, the new one goes where its day and id sort. Nothing when `html` is not an index of this
// layout (then the whole index is written anew).
std::optional<std::string> index_with_row(const std::string& html, const IndexRow& row, const std::string& generated_at);

std::string ledger_page_html(const std::vector<ledger::LedgerEntry>& entries, const std::string& generated_at);

}  // namespace quorvel::pages
