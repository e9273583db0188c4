#pragma once
// The report pages on disk, beside the Markdown reports:
//   <date>/<code>_analysis_<client>.html   the page of the latest analysis of that instrument-day
//   index.html, ledger.html                the list of every analysis and the plan ledger
//   .pages.lock                            held while the two are rewritten
// The store is the source of truth: every page is written from it and can be written again
// (`quorvel-reports html --rebuild`). Each file is replaced whole (temporary file + rename). The
// index is read from the store and written under an exclusive lock on .pages.lock, so two runs
// adding their analyses at once both end up in it: the later writer reads the store after the
// earlier one has written.
//
// Thread-safe as far as the store is; blocking (SQLite, files, bars): call it off the event loop.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "quorvel/report/sql_report_store.h"

namespace quorvel::pages {

inline constexpr const char* INDEX_FILE = "index.html";
inline constexpr const char* LEDGER_FILE = "ledger.html";
inline constexpr const char* PAGES_LOCK_FILE = ".pages.lock";

// The page of an instrument-day's analysis, relative to the report directory.
std::filesystem::path analysis_page_path(const std::string& code, const std::string& date, const std::string& client);

// Writes the page of the instrument-day of analysis `id` (its latest analysis when `id` has been
// replaced) and returns its full path. The bars come from the market-data service; without bars a
// new page's chart says so, while an existing page is kept (a RuntimeError says why). A
// RuntimeError when no analysis has that id or the file cannot be written.
std::filesystem::path write_analysis_page(report::SqlReportStore& store, std::int64_t id);

struct IndexWritten {
  std::size_t analyses = 0;  // rows of the index
  std::filesystem::path index, ledger;
};

// Rewrites index.html and ledger.html from the store, under the page lock. A RuntimeError when a
// file cannot be written or the lock cannot be taken.
IndexWritten write_index_pages(report::SqlReportStore& store);

// Puts the latest analysis of `key` in index.html, under the page lock: its row is read from the
// store and replaces the instrument-day's row or goes where it sorts (the index and ledger pages
// are written whole when the index is missing or of another layout). Cheap on a large index: the
// other rows are kept as they are.
void add_to_index(report::SqlReportStore& store, const report::AnalysisKey& key);

// What a command does after storing an analysis: writes the page of the latest analysis of `key`
// and adds it to the index. Returns the page's path; nothing when the store has no analysis of
// `key` or a page could not be written (logged as a warning: the analysis itself is stored, and
// `quorvel-reports html` writes the pages again).
std::optional<std::filesystem::path> write_page_and_index(report::SqlReportStore& store,
                                                          const report::AnalysisKey& key);

struct PagesWritten {
  std::size_t written = 0;
  std::size_t failed = 0;  // logged with the reason
  IndexWritten index;
};

// The page of every stored analysis whose page is missing or shows an earlier analysis (every page
// with `rebuild`), then the index pages. `progress(done, total)` is called after each page.
PagesWritten write_all_pages(report::SqlReportStore& store, bool rebuild,
                             const std::function<void(std::size_t, std::size_t)>& progress = {});

}  // namespace quorvel::pages
