#pragma once
// The Markdown file written beside the database for each report: a short header with what a reader
// needs to place the report (code, name, market, date, model) followed by the content exactly as
// stored. The file is a convenience for people; the database stays the source of truth and
// `quorvel-reports write-files` can always recreate it.
#include <filesystem>
#include <string>

#include "quorvel/report/stored_report.h"

namespace quorvel::report {

std::string render_markdown(const StoredReport& report);

// Path of the report's file relative to the report directory:
// <date>/<code>_<kind>_<client>.md, or <date>/solvara_<market>_<client>.md for a market brief.
// Every part is passed through safe_file_component.
std::filesystem::path markdown_relative_path(const StoredReport& report);

}  // namespace quorvel::report
