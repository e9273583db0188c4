#pragma once
// Lists of instrument codes in a file: the first field of each line (comma or white space
// separated); blank lines and lines starting with '#' are skipped.
#include <filesystem>
#include <string>
#include <vector>

namespace tarnel {

// A quorvel::RuntimeError when the file cannot be read.
std::vector<std::string> read_code_list(const std::filesystem::path& file);

}  // namespace tarnel
