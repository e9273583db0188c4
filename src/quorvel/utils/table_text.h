#pragma once
// Text tables of the commands: CSV fields and columns aligned by display width, both showing
// outside text (outside_text.h) on one line. Pure; thread-safe.
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// A CSV field, quoted when it holds a separator, a quote or a line break.
std::string csv_field(std::string_view text);

// Outside text on one line: line feeds and tabs become blanks.
std::string cell_text(std::string_view text);

// The head and the rows as columns two spaces apart, padded by display width (a CJK character
// takes two columns); every row has one cell per head column. Cells pass through cell_text.
void print_aligned_table(std::ostream& out, const std::vector<std::string>& head,
                         const std::vector<std::vector<std::string>>& cells);

}  // namespace quorvel
