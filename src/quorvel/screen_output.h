#pragma once
// The report of a pool screen: a table for people, CSV or JSON for programs, and a closing count;
// and the aligned-table and CSV helpers that the other pool reports share.
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "quorvel/strategy/technical/pool_screen.h"

namespace quorvel {

struct ScreenSummary {
  std::size_t total = 0, screened = 0, eligible = 0, no_data = 0, failed = 0;
  std::size_t stale = 0;  // screened on bars that end too long before the day; never listed
};

ScreenSummary summarize_screen(const std::vector<strategy::technical::ScreenOutcome>& outcomes);

// The eligible instruments, best score first (ties by code), as "table", "csv" or "json".
void print_screen(std::ostream& out, const std::vector<strategy::technical::ScreenOutcome>& outcomes,
                  const std::string& format);

// A CSV field, quoted when it holds a separator, a quote or a line break.
std::string csv_field(const std::string& s);

// The head and the rows as columns two spaces apart, padded by display width (a CJK character
// takes two columns); every row has one cell per head column.
void print_aligned_table(std::ostream& out, const std::vector<std::string>& head,
                         const std::vector<std::vector<std::string>>& cells);

// "筛选完成 2023-02-10: 共 N 只，已筛选 S，通过 E，无数据 D，失败 F，用时 1.23 秒"
std::string summary_line(const ScreenSummary& s, const std::string& date, double seconds);

}  // namespace quorvel
