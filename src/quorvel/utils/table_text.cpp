#include "quorvel/utils/table_text.h"

#include <algorithm>

#include "quorvel/utils/outside_text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel {

namespace {

std::string pad(const std::string& s, std::size_t width) {
  const std::size_t w = display_width(s);
  return s + std::string(w < width ? width - w : 0, ' ');
}

}  // namespace

std::string csv_field(std::string_view text) {
  const std::string s = outside_text(text);
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string cell_text(std::string_view text) {
  std::string out = outside_text(text);
  std::replace_if(out.begin(), out.end(), [](char c) { return c == '\n' || c == '\t'; }, ' ');
  return out;
}

void print_aligned_table(std::ostream& out, const std::vector<std::string>& head,
                         const std::vector<std::vector<std::string>>& raw_cells) {
  std::vector<std::vector<std::string>> cells;
  for (const auto& row : raw_cells) {
    cells.emplace_back();
    for (const auto& cell : row) cells.back().push_back(cell_text(cell));
  }
  std::vector<std::size_t> width(head.size());
  for (std::size_t c = 0; c < head.size(); ++c) {
    width[c] = display_width(head[c]);
    for (const auto& row : cells) width[c] = std::max(width[c], display_width(row[c]));
  }
  auto line = [&](const std::vector<std::string>& row) {
    std::string text;
    for (std::size_t c = 0; c < row.size(); ++c)
      text += (c ? "  " : "") + (c + 1 < row.size() ? pad(row[c], width[c]) : row[c]);
    out << text << "\n";
  };
  line(head);
  for (const auto& row : cells) line(row);
}

}  // namespace quorvel
