#pragma once
// Pool files (watchlists): the first field of each line (comma or white space separated) is a code;
// blank lines, lines starting with '#' and a leading byte-order mark are skipped.
#include <filesystem>
#include <string>
#include <vector>

namespace tarnel {

// A quorvel::ValueError when the file cannot be read.
std::vector<std::string> read_code_list(const std::filesystem::path& file);

}  // namespace tarnel
