#pragma once
// The report of a pool screen: a table for people, CSV or JSON for programs, and a closing count.
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "quorvel/strategy/technical/pool_screen.h"
#include "quorvel/utils/table_text.h"

namespace quorvel {

struct ScreenSummary {
  std::size_t total = 0, screened = 0, eligible = 0, no_data = 0, failed = 0;
  std::size_t stale = 0;  // screened on bars that end too long before the day; never listed
};

ScreenSummary summarize_screen(const std::vector<strategy::technical::ScreenOutcome>& outcomes);

// The eligible instruments, best score first (ties by code), as "table", "csv" or "json".
void print_screen(std::ostream& out, const std::vector<strategy::technical::ScreenOutcome>& outcomes,
                  const std::string& format);

// "筛选完成 2023-02-10: 共 N 只，已筛选 S，通过 E，无数据 D，失败 F，用时 1.23 秒"
std::string summary_line(const ScreenSummary& s, const std::string& date, double seconds);

}  // namespace quorvel
